// The share of valid records that the subscriptions stage reports to the
// configuration service's memory.
#pragma once

#include <cmath>
#include <string>

// Leaky count of valid records and its stepped percentage.
class ValidDataCounter {
public:
    int validDataPoints = 0;
    int validDataPointsPrev = 1;
    int validDataPointsN = 0;
    float validDataPointsSteps = 0;
    float percentagePrev = NAN;  // no percentage equals it: the first one is always reported
    float percentage = 0;        // last computed, for the debug line
    bool computed = false;       // the last count computed a percentage

    // Counts one record; true when the stepped percentage changed and is to be
    // reported (it is then in percentage). A range without samples reports nothing.
    bool count(bool valid);
};

// The "setmem" request that stores the valid-data percentage.
std::string validDataRequest(float percentage);
