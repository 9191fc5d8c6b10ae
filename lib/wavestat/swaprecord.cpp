#include "swaprecord.h"

#include <cstdio>
#include <limits>
#include <memory>
#include <new>

#include "numeric.h"
#include "swapcontext.h"

void ResultWriter::Fill(float v, int64_t n)
{
    for (int64_t i = 0; i < n && position + i < length; ++i)
        Set(i, v);
    if (n > 0)
        position += n;
}

namespace {

enum RecordId { HLEV1, HLEV2, HDLEV1, HDLEV2 };

// Result codes first .. last take the record fields of the parameter codes
// parameter .. parameter + (last - first); element >= 0 takes one element of
// an array field.
struct ResultSource {
    int first, last;
    RecordId record;
    int parameter;
    int element;
};

const ResultSource RESULTS[] = {
    {5, 5, HLEV1, 1000, -1},      {8, 8, HLEV1, 2002, -1},      {101, 101, HLEV2, 1001, -1},
    {102, 102, HLEV2, 1003, -1},  {103, 103, HLEV2, 1002, -1},  {104, 111, HLEV2, 1004, -1},
    {112, 112, HLEV2, 1015, -1},  {113, 113, HLEV2, 1016, -1},  {114, 114, HLEV2, 1017, -1},
    {115, 115, HLEV2, 1021, -1},  {116, 118, HLEV2, 1018, -1},  {119, 137, HLEV2, 2003, -1},
    {138, 138, HLEV2, 3000, -1},  {139, 139, HLEV2, 3001, -1},  {140, 140, HLEV2, 3004, -1},
    {141, 141, HLEV2, 3003, -1},  {142, 142, HLEV2, 3002, -1},  {143, 143, HLEV2, 3005, -1},
    {175, 175, HLEV2, 1013, -1},  {176, 176, HLEV2, 1014, -1},
};

// Only the directional native knows these.
const ResultSource DIRECTIONAL_RESULTS[] = {
    {9, 12, HDLEV1, 4000, -1},    {163, 163, HDLEV2, 4007, -1}, {164, 164, HDLEV2, 4008, -1},
    {165, 165, HDLEV2, 4005, -1}, {166, 166, HDLEV2, 4006, -1}, {167, 167, HDLEV2, 5002, 11},
    {168, 168, HDLEV2, 5003, 11}, {169, 169, HDLEV2, 5002, 12}, {170, 170, HDLEV2, 5003, 12},
    {171, 171, HDLEV2, 5002, 13}, {172, 172, HDLEV2, 5003, 13}, {173, 173, HDLEV2, 5002, 14},
    {174, 174, HDLEV2, 5003, 14},
};

struct Records {
    const SWAPtag_HLEV1& hlev1;
    const SWAPtag_HLEV2& hlev2;
    const SWAPtag_HDLEV1* hdlev1; // null for the non-directional native
    const SWAPtag_HDLEV2* hdlev2;
};

template <size_t N>
const ResultSource* Find(const ResultSource (&table)[N], int code)
{
    for (const ResultSource& s : table)
        if (code >= s.first && code <= s.last)
            return &s;
    return nullptr;
}

// Appends a table code's values; false when the code is not in the tables.
bool AppendField(ResultWriter& out, const Records& r, int code)
{
    const ResultSource* s = Find(RESULTS, code);
    if (!s && r.hdlev1)
        s = Find(DIRECTIONAL_RESULTS, code);
    if (!s)
        return false;
    static const SWAPWaveAnalysis::Layout* const layouts[] = {
        &SWAPWaveAnalysis::HLEV1, &SWAPWaveAnalysis::HLEV2, &SWAPWaveAnalysis::HDLEV1, &SWAPWaveAnalysis::HDLEV2};
    const void* records[] = {&r.hlev1, &r.hlev2, r.hdlev1, r.hdlev2};
    int count = 0;
    const float* field =
        SWAPWaveAnalysis::FieldOf(*layouts[s->record], records[s->record], s->parameter + code - s->first, &count);
    if (!field || s->element >= count)
        return false;
    if (s->element >= 0) {
        out.Put(field[s->element]);
    } else {
        for (int i = 0; i < count; ++i)
            out.Put(field[i]);
    }
    return true;
}

// Codes 6 and 7: maxWaves slots of wave heights or periods, zero-padded;
// none at all without a wave count, which is where the data processor reads
// the codes after them.
void AppendWaves(ResultWriter& out, const SWAPtag_HLEV1& hlev1, int code, int maxWaves)
{
    const float count = hlev1.p2002;
    const float* list = code == 6 ? hlev1.s2000 : hlev1.s2001;
    const int capacity = static_cast<int>(sizeof hlev1.s2000 / sizeof(float));
    if (count == MISSING_VALUE)
        return;
    if (count > static_cast<float>(maxWaves)) {
        out.Fill(0.0f, maxWaves);
        return;
    }
    int i = 0;
    for (; i < maxWaves && i < capacity && static_cast<float>(i) < count; ++i)
        out.Put(list[i]);
    out.Fill(0.0f, maxWaves - i);
}

void Store(ResultWriter& out, const int32_t* params, int paramCount, int maxWaves, const Records& r,
           float meanLevel)
{
    if (maxWaves < 0)
        maxWaves = 0;
    for (int p = 0; p < paramCount; ++p) {
        const int code = params[p];
        if (code == 6 || code == 7) {
            AppendWaves(out, r.hlev1, code, maxWaves);
        } else if (code == 150) {
            out.Put(meanLevel);
        } else if (code == 157) {
            const float peak = r.hlev2.p1016;
            out.Put(peak == MISSING_VALUE || peak == 0.0f ? MISSING_VALUE : 1000.0f / peak);
        } else if (code == 13 && r.hdlev1) {
            calculateDmem_51x91(r.hlev1, *r.hdlev1, *r.hdlev2, out);
        } else if (!AppendField(out, r, code)) {
            out.Put(MISSING_VALUE);
            if (code > 100)
                std::printf("SWAP ERROR: Unknown type %i\n", code);
        }
    }
}

// The mean level of the second ten minutes: present samples within four
// standard deviations of the record's mean.
class MeanLevel {
public:
    MeanLevel(const float* heights, int n)
    {
        const float mean = FloatArrayMean(heights, n);
        const float sigma = FloatArraySigma(heights, n, mean);
        lo = mean - 4.0f * sigma;
        hi = mean + 4.0f * sigma;
    }
    void Add(int32_t t, float h)
    {
        if (IsPresent(h) && t > 600000 && t <= 1199999 && h >= lo && h <= hi) {
            sum += h;
            ++count;
        }
    }
    // Not a number when no sample qualified.
    float Get() const
    {
        return count == 0 ? std::numeric_limits<float>::quiet_NaN()
                          : static_cast<float>(sum) / static_cast<float>(count);
    }

private:
    float lo, hi;
    double sum = 0.0;
    int count = 0;
};

template <typename Record>
std::unique_ptr<Record> NewRecord()
{
    std::unique_ptr<Record> r(new (std::nothrow) Record);
    if (r)
        r->size = sizeof(Record);
    return r;
}

int Process(SWAPWaveAnalysis* context, int n, const int32_t* times, const float* heights, int maxWaves,
            const int32_t* params, int paramCount, ResultWriter& out)
{
    auto hlev1 = NewRecord<SWAPtag_HLEV1>();
    auto hlev2 = NewRecord<SWAPtag_HLEV2>();
    if (!hlev1 || !hlev2)
        return 0;
    MeanLevel level(heights, n);
    for (int i = 0; i < n; ++i) {
        SWAPPutSample(context, 20080101, times[i], heights[i], 0.0f, 0.0f);
        level.Add(times[i], heights[i]);
    }
    if (SWAPPutSample(context, 0, 0, 0.0f, 0.0f, 0.0f) && SWAPGetHLevel1(context, hlev1.get()) &&
        SWAPGetHLevel2(context, hlev2.get()))
        StoreResult(out, params, paramCount, maxWaves, *hlev1, *hlev2, level.Get());
    return n;
}

int ProcessDir(SWAPWaveAnalysis* context, int n, const int32_t* times, const float* heave, const float* x,
               const float* y, int maxWaves, const int32_t* params, int paramCount, ResultWriter& out)
{
    auto hlev1 = NewRecord<SWAPtag_HLEV1>();
    auto hlev2 = NewRecord<SWAPtag_HLEV2>();
    auto hdlev1 = NewRecord<SWAPtag_HDLEV1>();
    auto hdlev2 = NewRecord<SWAPtag_HDLEV2>();
    if (!hlev1 || !hlev2 || !hdlev1 || !hdlev2)
        return 0;
    MeanLevel level(heave, n);
    for (int i = 0; i < n; ++i) {
        SWAPPutSample(context, 20080101, times[i], heave[i], x[i], y[i]);
        level.Add(times[i], heave[i]);
    }
    if (SWAPPutSample(context, 0, 0, 0.0f, 0.0f, 0.0f) && SWAPGetHLevel1(context, hlev1.get()) &&
        SWAPGetHLevel2(context, hlev2.get()) && SWAPGetHDLevel1(context, hdlev1.get()) &&
        SWAPGetHDLevel2(context, hdlev2.get()))
        StoreResult(out, params, paramCount, maxWaves, *hlev1, *hlev2, *hdlev1, *hdlev2, level.Get());
    return n;
}

SWAPWaveAnalysis* Open(int sensorType, float theta0)
{
    SWAPtag_PARM parm{};
    parm.size = sizeof parm;
    parm.sensorType = sensorType;
    parm.theta0 = theta0;
    SWAPWaveAnalysis* context = SWAPOpenContext(&parm);
    if (!context)
        std::printf("SWAP ERROR: cannot open swapcontext\n");
    return context;
}

} // namespace

void StoreResult(ResultWriter& out, const int32_t* params, int paramCount, int maxWaves, const SWAPtag_HLEV1& hlev1,
                 const SWAPtag_HLEV2& hlev2, float meanLevel)
{
    Store(out, params, paramCount, maxWaves, Records{hlev1, hlev2, nullptr, nullptr}, meanLevel);
}

void StoreResult(ResultWriter& out, const int32_t* params, int paramCount, int maxWaves, const SWAPtag_HLEV1& hlev1,
                 const SWAPtag_HLEV2& hlev2, const SWAPtag_HDLEV1& hdlev1, const SWAPtag_HDLEV2& hdlev2,
                 float meanLevel)
{
    Store(out, params, paramCount, maxWaves, Records{hlev1, hlev2, &hdlev1, &hdlev2}, meanLevel);
}

int GetHLevelFromSamples(const int32_t* times, const float* heights, int n, int maxWaves, const int32_t* params,
                         int paramCount, float* result, int resultLength)
{
    // An empty record has no first and last time to take the rate from.
    if (n <= 0) {
        std::printf("SWAP ERROR: not enough elements: %i\n", n);
        std::fflush(stdout);
        return 0;
    }
    // Divided by n, not n - 1, as records have always been classified: 3000
    // samples 400 ms apart are taken as 2.56 Hz data.
    const float interval =
        static_cast<float>(static_cast<int64_t>(times[n - 1]) - times[0]) / static_cast<float>(n);
    SWAPWaveAnalysis* context = Open(interval > 400.0f ? 4 : 3, 0.0f);
    int done = 0;
    if (context) {
        ResultWriter out(result, resultLength);
        done = Process(context, n, times, heights, maxWaves, params, paramCount, out);
        SWAPCloseContext(context);
    }
    std::fflush(stdout);
    return done;
}

int GetHDLevelFromSamples(const int32_t* times, const float* heave, const float* x, const float* y, int n,
                          float theta0, int maxWaves, const int32_t* params, int paramCount, float* result,
                          int resultLength)
{
    if (n <= 1) {
        std::printf("SWAP ERROR: not enough elements: %i\n", n);
        std::fflush(stdout);
        return 0;
    }
    SWAPWaveAnalysis* context = Open(5, theta0);
    int done = 0;
    if (context) {
        ResultWriter out(result, resultLength);
        done = ProcessDir(context, n, times, heave, x, y, maxWaves, params, paramCount, out);
        SWAPCloseContext(context);
    }
    std::fflush(stdout);
    return done;
}
