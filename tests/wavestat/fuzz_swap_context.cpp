// What the data processor can hand the library, in any shape: samples with
// any dates, times and values, forces, theta0, record reads of right and wrong
// sizes on every sensor type, and whole records with any result codes through
// the natives' analysis into an exactly sized result array.  Must hold: no
// crash or sanitizer report, getters answer 1 exactly for a right size on a
// context that has the record (0 and the record untouched otherwise), every
// direction read is missing or in 0 .. 360, and a record call returns 0 or its
// sample count.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "swapcontext.h"
#include "swaprecord.h"

namespace {

class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data(data), size(size) {}
    bool more() const { return at < size; }
    uint8_t u8() { return at < size ? data[at++] : 0; }
    int32_t i32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(u8()) << (8 * i);
        return static_cast<int32_t>(v);
    }
    float f32()
    {
        const int32_t bits = i32();
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

// Whatever theta0 was, a direction is missing or in 0 .. 360 (never -0).
void CheckDirections(const SWAPtag_HDLEV2& r)
{
    auto check = [](float v) {
        if (v != MISSING_VALUE && !(v >= 0.0f && v < 360.0f && !std::signbit(v)))
            std::abort();
    };
    for (float v : r.s4005)
        check(v);
    for (float v : r.s5002)
        check(v);
    check(r.p4007);
    check(r.p4009);
}

template <typename Record>
void ReadRecord(SWAPWaveAnalysis* c, int (*get)(SWAPWaveAnalysis*, Record*), bool available, bool rightSize,
                void (*checkRead)(const Record&) = nullptr)
{
    std::vector<Record> buffer(1);
    Record& r = buffer[0];
    std::memset(&r, 0x33, sizeof r);
    r.size = rightSize ? static_cast<int32_t>(sizeof r) : static_cast<int32_t>(sizeof r) - 4;
    std::vector<Record> before = buffer;
    const int got = get(c, &r);
    if (got != (available && rightSize ? 1 : 0))
        std::abort();
    if (!got && std::memcmp(&r, &before[0], sizeof r) != 0)
        std::abort();
    if (got && r.size != static_cast<int32_t>(sizeof r))
        std::abort();
    if (got && checkRead)
        checkRead(r);
}

void ContextOps(Bytes& in)
{
    SWAPtag_PARM parm{};
    parm.size = 52;
    parm.sensorType = in.u8() % 6;
    parm.theta0 = in.f32();
    SWAPWaveAnalysis* c = SWAPOpenContext(&parm);
    if (!c)
        std::abort();
    const bool directional = parm.sensorType == 0 || parm.sensorType == 1 || parm.sensorType == 5;
    while (in.more()) {
        switch (in.u8() % 5) {
        case 0: { // one sample, anything
            const int32_t date = in.u8() % 2 ? 20080101 : in.i32();
            const int32_t ms = in.i32();
            SWAPPutSample(c, date, ms, in.f32(), in.f32(), in.f32());
            break;
        }
        case 1: { // a run of samples: start, step (ms), count, a sine
            const int32_t start = in.i32() % 2000000;
            const int step = 1 + in.u8() * 8;
            const int count = in.u8() * 16;
            const float amplitude = in.f32();
            for (int i = 0; i < count; ++i)
                SWAPPutSample(c, 20080101, start + static_cast<long>(i) * step,
                              amplitude * std::sin(0.7f * static_cast<float>(i)), amplitude, -amplitude);
            break;
        }
        case 2: SWAPForce(c, in.u8() % 2 ? 20080101 : in.i32(), in.i32()); break;
        case 3: SWAPSetTheta0(c, in.f32()); break;
        case 4: {
            const bool right = in.u8() % 4 != 0;
            switch (in.u8() % 10) {
            case 0: ReadRecord(c, SWAPGetHLevel0, true, right); break;
            case 1: ReadRecord(c, SWAPGetHLevel1, true, right); break;
            case 2: ReadRecord(c, SWAPGetHLevel2, true, right); break;
            case 3: ReadRecord(c, SWAPGetHLevel3, true, right); break;
            case 4: ReadRecord(c, SWAPGetHLevel4, true, right); break;
            case 5: ReadRecord(c, SWAPGetHDLevel0, directional, right); break;
            case 6: ReadRecord(c, SWAPGetHDLevel1, directional, right); break;
            case 7: ReadRecord(c, SWAPGetHDLevel2, directional, right, CheckDirections); break;
            case 8: ReadRecord(c, SWAPGetHDLevel3, directional, right); break;
            case 9: ReadRecord(c, SWAPGetHDLevel4, directional, right); break;
            }
            break;
        }
        }
    }
    SWAPCloseContext(c);
}

// A whole record through the natives' analysis: n samples at a spacing,
// values from the input, result codes from the input.
void RecordCall(Bytes& in, bool directional)
{
    const int n = in.u8() * 16;
    const int step = 1 + in.u8() * 4;
    const int maxWaves = static_cast<int8_t>(in.u8()) * 8;
    const int codeCount = in.u8() % 16;
    const int resultLength = in.u8() * 40;
    std::vector<int32_t> params(codeCount);
    for (int32_t& p : params)
        p = in.u8() % 3 ? in.u8() : in.i32();
    std::vector<int32_t> times(n);
    std::vector<float> heave(n), x(n), y(n);
    const float a = in.f32(), b = in.f32();
    for (int i = 0; i < n; ++i) {
        times[i] = i * step + (in.more() ? static_cast<int8_t>(in.u8()) : 0);
        heave[i] = a * std::sin(0.3f * static_cast<float>(i)) + (in.more() ? in.u8() : 0);
        x[i] = b * std::cos(0.3f * static_cast<float>(i));
        y[i] = in.more() ? in.f32() : b;
    }
    std::vector<float> result(resultLength);
    const int got = directional ? GetHDLevelFromSamples(times.data(), heave.data(), x.data(), y.data(), n, a,
                                                        maxWaves, params.data(), codeCount, result.data(),
                                                        resultLength)
                                : GetHLevelFromSamples(times.data(), heave.data(), n, maxWaves, params.data(),
                                                       codeCount, result.data(), resultLength);
    if (got != 0 && got != n)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    Bytes in(data, size);
    switch (in.u8() % 3) {
    case 0: ContextOps(in); break;
    case 1: RecordCall(in, false); break;
    case 2: RecordCall(in, true); break;
    }
    return 0;
}
