// Pairs the board's sweeps into one record: the first sweep of a pair carries
// gain bit 0x0100, the second completes it.
#pragma once

#include <cstdint>

#include "tarnix.h"

class SweepPairer {
public:
    enum Outcome { FIRST_STORED, PAIR_READY, UNPAIRED };

    explicit SweepPairer(tarnix_st* record) : rec(record) {}

    // A first sweep (re)starts the pair and stamps it; a second one completes it only
    // when a first sweep came since the last pair, so a record never mixes two pairs.
    Outcome add(const beagle_raw_data_t& frame, int64_t nowMs, int32_t sweepsize);
    void reset() { haveFirst = false; }

private:
    tarnix_st* rec;
    bool haveFirst = false;
};
