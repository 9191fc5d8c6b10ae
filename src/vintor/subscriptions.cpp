#include "subscriptions.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Length of a fixed text field that may lack its terminator.
int fieldLength(const char* text, std::size_t size) { return static_cast<int>(strnlen(text, size)); }

// Readers are told a missing value prints as "nan"; a negative NaN would print "-nan".
double printable(float v) { return std::isnan(v) ? std::fabs(v) : v; }

}  // namespace

void heaveLine(char* frame, const char* time, const char* radarName, bool valid, float h) {
    std::memset(frame, 0, HEAVE_FRAME_SIZE);
    const int tl = fieldLength(time, 20);
    const int nl = fieldLength(radarName, RADAR_NAME_SIZE - 1);
    if (valid)
        std::snprintf(frame, HEAVE_FRAME_SIZE, "time=%.*s;sensor=%.*s;heave=%fcm", tl, time, nl, radarName,
                      printable(h));
    else
        std::snprintf(frame, HEAVE_FRAME_SIZE, "time=%.*s;sensor=%.*s;heave=NaNcm", tl, time, nl, radarName);
}

void vintorLine(char* frame, const char* time, const char* radarName, const float* v, bool valid, int nan) {
    std::memset(frame, 0, VINTOR_FRAME_SIZE);
    const int tl = fieldLength(time, 20);
    const int nl = fieldLength(radarName, RADAR_NAME_SIZE - 1);
    if (valid)
        std::snprintf(frame, VINTOR_FRAME_SIZE, "time=%.*s;sensor=%.*s;Vintor=%f,%f,%f,%f,%f,%f,%f,%f,%f,%f;", tl,
                      time, nl, radarName, printable(v[0]), printable(v[1]), printable(v[2]), printable(v[3]),
                      printable(v[4]), printable(v[5]), printable(v[6]), printable(v[7]), printable(v[8]),
                      printable(v[9]));
    else
        std::snprintf(frame, VINTOR_FRAME_SIZE, "time=%.*s;sensor=%.*s;Vintor=NaN;Value=%d", tl, time, nl,
                      radarName, nan);
}

void appendFloat5(std::string& out, float value) {
    if (std::isinf(value) && value < 0) {
        out += '0';
        return;
    }
    // 64 bytes hold any float in this form (FLT_MAX has 39 integer digits).
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%.5f", static_cast<double>(value));
    if (n > 0) out.append(buf, static_cast<std::size_t>(n));
}

bool ValidDataCounter::count(bool valid) {
    validDataPoints += valid ? 1 : -1;
    if (validDataPoints > validDataPointsN) validDataPoints = validDataPointsN;
    if (validDataPoints < 0) validDataPoints = 0;
    percentage = 0;
    if (validDataPoints == validDataPointsPrev) return false;
    bool report = false;
    if (validDataPointsN > 0 && validDataPointsSteps > 0) {
        const float p = std::roundf(static_cast<float>(validDataPoints) / static_cast<float>(validDataPointsN) *
                                    100.0f / validDataPointsSteps) *
                        validDataPointsSteps;
        percentage = p;
        report = std::isfinite(p) && p != percentagePrev;
    }
    validDataPointsPrev = validDataPoints;
    return report;
}

std::string validDataRequest(float percentage) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", static_cast<double>(percentage));
    return std::string("{\"setmem\":{\"status\":{\"vintor\":{\"validDataPoints\":\"") + buf + "\"}}}}";
}
