// The heave smoother's per-line work: a five-field line (time, heave, roll,
// pitch, yaw) resampled onto a grid of 100 time units, the heave filtered, and
// one output line per grid point, published ringLag grid points late so that the
// filter's delay is taken back out.
#pragma once

#include "firfilter.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Longest line taken; the rest of a longer message is cut off.
constexpr size_t FILTER_LINE_MAX = 8091;
// Grid spacing, in the lines' time unit (milliseconds: 10 points a second).
constexpr int64_t FILTER_GRID_STEP = 100;

struct filtersample_st {
    int64_t time;
    double heave;
    double roll;
    double pitch;
    double yaw;
};

struct filterslot_st {
    int64_t time;  // 0: never written
    double filtered;
    double roll;
    double pitch;
    double yaw;
    uint8_t nanFlag;
};

// Fields split at every comma, empty ones kept: time (atoll), heave, roll, pitch
// and yaw (atof; an empty field is NaN). False, leaving *out alone, when the line
// has fewer than five fields.
bool parseFilterLine(const char* line, filtersample_st* out);

// a when c is 0, b when c is 1, else (b - a) * c + a.
double interpolateLinear(double a, double b, double c);

// Receives the output lines, one per published grid point.
class LineSink {
public:
    virtual ~LineSink() = default;
    virtual void publish(const char* line, size_t length) = 0;
};

class HeaveSmoother {
public:
    // filter must be ready (no error, at least one tap) and outlive this object.
    HeaveSmoother(FirFilter& filter, LineSink& sink, bool quiet);

    // One received line (NUL-terminated, at most FILTER_LINE_MAX bytes).
    void processLine(const char* line);

    // A symmetric filter's delay; for an even tap count it is half a grid point
    // more, so each value goes out 50 ms after its own time, never before it.
    static int ringLagFor(int taps) { return (taps - 1) / 2; }

private:
    void emitGridPoint(int64_t g, double c);

    FirFilter& filter;
    LineSink& sink;
    bool quiet;
    std::vector<filterslot_st> outputRing;
    size_t writeIndex;
    size_t readIndex = 0;
    filtersample_st records[2] = {};
    int current = 0;
    int previous = 0;  // the same record as current for the very first line
    double filterInput = 0.0;
};
