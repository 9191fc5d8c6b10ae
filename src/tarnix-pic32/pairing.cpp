#include "pairing.h"

#include "boardlink.h"

SweepPairer::Outcome SweepPairer::add(const beagle_raw_data_t& frame, int64_t nowMs, int32_t sweepsize)
{
    if (frame.gain & FIRST_SWEEP_GAIN) {
        rec->tarnix_data[0] = frame;
        rec->time = nowMs;
        rec->sweepsize = sweepsize;
        haveFirst = true;
        return FIRST_STORED;
    }
    if (!haveFirst) return UNPAIRED;
    rec->tarnix_data[1] = frame;
    haveFirst = false;
    return PAIR_READY;
}
