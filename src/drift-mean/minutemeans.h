// 1-, 10- and 5-minute means of the vertical Doppler velocity of the radar's
// "vintor" lines, published at every whole minute of the line times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

struct VelocitySample {
    int64_t time; // milliseconds since the epoch, from the line
    float value;
};

// The three windows in the order they are published.
struct MeanWindow {
    const char* key;  // "vdup_1"
    int64_t width;    // milliseconds
    int64_t middle;   // offset of the published time below the boundary
    double threshold; // a mean needs more samples than this
};
extern const MeanWindow meanWindows[3];

// What one minute boundary gives.
struct MinutePublication {
    int64_t boundary = 0; // M, milliseconds
    // The 32-bit float sum of each window; the sum in double where that one
    // would overflow, so the mean of finite samples is never "inf".
    double sum[3] = {0, 0, 0};
    int count[3] = {0, 0, 0};
    std::string lines[3]; // "time=<M - middle>;sensor=sensor0;vdup_1=<mean or NaN>;"
};

// What was read from one line, for the traces.
struct LineReading {
    std::string_view line;     // up to the first NUL
    std::string_view timeText; // empty when the line has no time
    std::string_view valueText;
    bool hasTime = false;
    bool valueCut = false; // the line had a comma-separated value (and no "NaN")
};

class MinuteMeans {
public:
    // Samples are kept while their time is at least M - retention.
    static constexpr int64_t retention = 1209999;

    // Takes one frame. True when its time lies in another minute than the last
    // line's: *out then holds the publication for that minute's start.
    bool take(const char* frame, size_t length, LineReading* seen, MinutePublication* out);

    const std::deque<VelocitySample>& samples() const { return queue; }
    int64_t currentTime() const { return now; }

private:
    void publish(int64_t boundary, MinutePublication* out);

    std::deque<VelocitySample> queue;
    int64_t now = 0;
    int64_t previousMinute = 0;
};
