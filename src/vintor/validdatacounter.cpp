#include "validdatacounter.h"

#include <cmath>
#include <cstdio>

bool ValidDataCounter::count(bool valid) {
    validDataPoints += valid ? 1 : -1;
    if (validDataPoints > validDataPointsN) validDataPoints = validDataPointsN;
    if (validDataPoints < 0) validDataPoints = 0;
    percentage = 0;
    computed = false;
    if (validDataPoints == validDataPointsPrev) return false;
    bool report = false;
    if (validDataPointsN > 0 && validDataPointsSteps > 0) {
        const float p = std::roundf(static_cast<float>(validDataPoints) / static_cast<float>(validDataPointsN) *
                                    100.0f / validDataPointsSteps) *
                        validDataPointsSteps;
        percentage = p;
        computed = std::isfinite(p);
        report = computed && p != percentagePrev;
    }
    validDataPointsPrev = validDataPoints;
    return report;
}

std::string validDataRequest(float percentage) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", static_cast<double>(percentage));
    return std::string("{\"setmem\":{\"status\":{\"vintor\":{\"validDataPoints\":\"") + buf + "\"}}}}";
}
