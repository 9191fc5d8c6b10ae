// Subscriptions stage: turns the height records of ring "h" into the text
// feeds "heave", "vintor" and "reflection" and reports the share of valid data.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>

constexpr std::size_t HEAVE_FRAME_SIZE = 200;
constexpr std::size_t VINTOR_FRAME_SIZE = 400;
constexpr int RADAR_NAME_SIZE = 100;

// The heave line in a zeroed frame of HEAVE_FRAME_SIZE bytes, cut to fit.
// time is the record's 20-byte time field (not necessarily terminated).
void heaveLine(char* frame, const char* time, const char* radarName, bool valid, float h);

// The vintor line in a zeroed frame of VINTOR_FRAME_SIZE bytes, cut to fit:
// ten values for a valid record, else "NaN;Value=" and the fault sum.
void vintorLine(char* frame, const char* time, const char* radarName, const float* values, bool valid,
                int nan);

// Fixed-point text with 5 decimals, minus infinity as "0", appended to out.
void appendFloat5(std::string& out, float value);

// Leaky count of valid records and its stepped percentage.
class ValidDataCounter {
public:
    int validDataPoints = 0;
    int validDataPointsPrev = 1;
    int validDataPointsN = 0;
    float validDataPointsSteps = 0;
    float percentagePrev = NAN;  // no percentage equals it: the first one is always reported
    float percentage = 0;        // last computed, for the debug line

    // Counts one record; true when the stepped percentage changed and is to be
    // reported (it is then in percentage). A range without samples reports nothing.
    bool count(bool valid);
};

// The "setmem" request that stores the valid-data percentage.
std::string validDataRequest(float percentage);
