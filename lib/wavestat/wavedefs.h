// Values shared by every unit of the wave analysis: the missing marker, the
// quality flag bits of a sample, and the export marker of the few entry points
// the shared library shows its callers.
#pragma once

#include <cfloat>
#include <cstdint>

// The largest finite float (bit pattern 0x7F7FFFFF) marks a missing value in
// every array and record of the library.
constexpr float MISSING_VALUE = FLT_MAX;

// Quality flag bits of one sample; a flag word of 0 marks an empty slot.
enum SampleFlag : int32_t {
    SAMPLE_RECEIVED = 0x01,
    SAMPLE_REPAIRED = 0x02,
    SAMPLE_MOVED = 0x04,
    SAMPLE_OUT_OF_RANGE = 0x08,
    SAMPLE_FLAT_RUN = 0x10,
    SAMPLE_OUTLIER = 0x20,
    SAMPLE_JUMP = 0x40,
};

// The core is compiled with hidden visibility; only functions marked so are
// visible outside the shared library that links it.
#define WAVESTAT_EXPORT __attribute__((visibility("default")))
