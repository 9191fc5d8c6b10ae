// One record of samples analysed in a context of its own, the way the data
// processor's natives call it: the context opened for the record's sample
// rate, fed, forced, read, and the values of the requested result codes
// appended to a float array.  A result code (not a parameter code) names a
// value or a run of values of the records; the list is in swaprecord.cpp.
#pragma once

#include <cstdint>

#include "swapapi.h"

// Appends values to the caller's result array: the position always moves
// by what a code owns, values beyond the array's end are dropped.
class ResultWriter {
public:
    ResultWriter(float* result, int length) : result(result), length(length > 0 ? length : 0) {}

    void Put(float v)
    {
        Set(0, v);
        ++position;
    }
    // n copies of v.
    void Fill(float v, int64_t n);
    // Writes at position + offset without moving.
    void Set(int64_t offset, float v)
    {
        const int64_t at = position + offset;
        if (at >= 0 && at < length)
            result[at] = v;
    }
    void Advance(int64_t n) { position += n; }
    int64_t GetPosition() const { return position; }

private:
    float* result;
    int64_t length;
    int64_t position = 0;
};

// Appends the values of the result codes from the records of one run.  With
// HDLEV records (the directional native) codes 9 to 13 and 163 to 174 are
// known too.  maxWaves slots are reserved for each of codes 6 and 7.
void StoreResult(ResultWriter& out, const int32_t* params, int paramCount, int maxWaves, const SWAPtag_HLEV1& hlev1,
                 const SWAPtag_HLEV2& hlev2, float meanLevel);
void StoreResult(ResultWriter& out, const int32_t* params, int paramCount, int maxWaves, const SWAPtag_HLEV1& hlev1,
                 const SWAPtag_HLEV2& hlev2, const SWAPtag_HDLEV1& hdlev1, const SWAPtag_HDLEV2& hdlev2,
                 float meanLevel);

// Rows and columns of the maximum-entropy directional spectrum.
constexpr int DMEM_ROWS = 51;
constexpr int DMEM_COLUMNS = 91;

// The directional spectrum by maximum entropy from the Fourier coefficients
// of HDLEV1 and the heave spectrum of HLEV1: 51 frequency rows (bins 0, 2 ..
// 100) of 91 directions (0, 4 .. 360 degrees, the last repeating the first),
// appended as 4641 values.  HDLEV2 is not read.
void calculateDmem_51x91(const SWAPtag_HLEV1& hlev1, const SWAPtag_HDLEV1& hdlev1, const SWAPtag_HDLEV2& hdlev2,
                         ResultWriter& out);

// Sines and cosines of i and 2i degrees, i = 0 .. 360, filled when the
// library is loaded.
void generate_sin_cos_tables();
extern double sin_theta[361], cos_theta[361], sin_2theta[361], cos_2theta[361];

// A height record: times in milliseconds of the record's day (the second
// ten minutes are 600,000 < t <= 1,199,999), heights of one signal.  Mean
// interval above 400 ms: a 1.28 Hz gauge, else a 2.56 Hz one.  Returns n, or 0
// when refused (with its message on standard output).
int GetHLevelFromSamples(const int32_t* times, const float* heights, int n, int maxWaves, const int32_t* params,
                         int paramCount, float* result, int resultLength);
// A directional record of heave and two horizontal signals at 1.28 Hz; theta0
// is added to every direction.  At least two samples.
int GetHDLevelFromSamples(const int32_t* times, const float* heave, const float* x, const float* y, int n,
                          float theta0, int maxWaves, const int32_t* params, int paramCount, float* result,
                          int resultLength);
