#include "swapcontext.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "numeric.h"
#include "sensor.h"

namespace {

// The value of a code the getter holds; for another code its message and
// the missing marker.
float HeldOr(bool held, float value, const char* message, int code)
{
    if (held)
        return value;
    std::printf(message, code);
    return MISSING_VALUE;
}

// Copies min(count, available) values.
void CopyFloats(const float* from, int available, float* to, int count)
{
    if (from && count > 0)
        std::copy_n(from, std::min(count, available), to);
}

} // namespace

void SWAPSHeaveAnalysis::GetSpecArray(int code, float* values, int count) const
{
    if (code == 1000)
        CopyFloats(GetCZZ(), GetCZZCount(), values, count);
    else if (code == 1001)
        CopyFloats(GetSeries(), GetSeriesCount(), values, count);
    else
        std::printf("Non existent SPC_H_SPEC array = %i\n", code);
}

float SWAPSHeaveAnalysis::GetSpecParm(int code) const
{
    return HeldOr(code >= FIRST_PARAMETER && code <= LAST_PARAMETER, GetParameter(code),
                  "Non existent SPC_H_SPEC: parm = %i\n", code);
}

float SWAPSHeaveAnalysis::GetQualParm(int code) const
{
    return HeldOr(code >= FIRST_QUALITY && code <= LAST_QUALITY, GetQuality(code),
                  "Non existent SPC_H_QUAL: parm = %i\n", code);
}

void SWAPSDirAnalysis::GetSpecArray(int code, float* values, int count) const
{
    if (code >= FIRST_ARRAY && code <= LAST_ARRAY)
        CopyFloats(GetArray(code), GetArrayCount(code), values, count);
    else
        std::printf("Non existent SPC_D_SPEC: array = %i\n", code);
}

float SWAPSDirAnalysis::GetSpecParm(int code) const
{
    return HeldOr(code >= FIRST_PARAMETER && code <= LAST_PARAMETER, GetParameter(code),
                  "Non existent SPC_D_SPEC: parm = %i\n", code);
}

void SWAPSDirAnalysis::GetBandArray(int code, float* values, int count) const
{
    if (code >= FIRST_BAND && code <= LAST_BAND)
        CopyBandArray(GetBand(code), values, count);
    else
        std::printf("Non existent SPC_H_BAND: parm = %i\n", code);
}

void SWAPSDirAnalysis::CopyBandArray(const float* bands, float* values, int count) const
{
    // Record position of each band.
    static const int swapgroup[BANDS] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    for (int i = 0; i < std::min(count, static_cast<int>(BANDS)); ++i)
        values[i] = bands[swapgroup[i]];
}

float SWAPSDirAnalysis::GetQualParm(int code) const
{
    return HeldOr(code >= FIRST_QUALITY && code <= LAST_QUALITY, GetQuality(code),
                  "Non existent SPC_H_QUAL: parm = %i\n", code);
}

void SWAPTDAnalysis::GetClasArray(int code, float* values, int count)
{
    if (code != 2000 && code != 2001) {
        std::printf("Non existent SPC_H_CLAS: array = %i\n", code);
        return;
    }
    float* list = code == 2000 ? heights.get() : periods.get();
    if (!list || count < 0)
        return;
    CopyFloats(list, WAVE_CAPACITY, values, count);
    for (int i = count; i < WAVE_CAPACITY; ++i)
        list[i] = MISSING_VALUE;
}

float SWAPTDAnalysis::GetClasParm(int code) const
{
    return HeldOr(code >= FIRST_PARAMETER && code <= LAST_PARAMETER, GetParameter(code),
                  "Non existent SPC_H_CLAS: parm = %i\n", code);
}

SWAPWaveAnalysis::SWAPWaveAnalysis(WaveSensor* sensor, float theta0) : WaveAnalysis(sensor, theta0, 0.1f) {}

SWAPWaveAnalysis::~SWAPWaveAnalysis()
{
    Exit();
}

int SWAPWaveAnalysis::Init()
{
    const WaveSensor* sensor = GetSensor();
    const bool directional = sensor->IsDirectional() != 0;
    sampleAnalysis.reset(new (std::nothrow) SampleAnalysis(sensor, directional ? 2 : 0));
    bool ok = sampleAnalysis && !sampleAnalysis->GetError();
    if (ok) {
        heaveAnalysis.reset(new (std::nothrow) SWAPSHeaveAnalysis(sensor));
        ok = heaveAnalysis && !heaveAnalysis->GetError();
    }
    if (ok && directional) {
        dirAnalysis.reset(new (std::nothrow) SWAPSDirAnalysis(sensor));
        ok = dirAnalysis && !dirAnalysis->GetError();
    }
    if (ok) {
        tdAnalysis.reset(new (std::nothrow) SWAPTDAnalysis(sensor));
        ok = tdAnalysis && !tdAnalysis->GetError();
    }
    if (!ok) {
        Exit();
        return 0;
    }
    SetProcesses(sampleAnalysis.get(), heaveAnalysis.get(), dirAnalysis.get(), tdAnalysis.get());
    return 1;
}

void SWAPWaveAnalysis::Exit()
{
    SetProcesses(nullptr, nullptr, nullptr, nullptr);
    tdAnalysis.reset();
    dirAnalysis.reset();
    heaveAnalysis.reset();
    sampleAnalysis.reset();
}

float SWAPWaveAnalysis::Get(int code)
{
    switch (code / 1000) {
    case 1: return heaveAnalysis->GetSpecParm(code);
    case 2: return tdAnalysis->GetClasParm(code);
    case 3: return heaveAnalysis->GetQualParm(code);
    case 4: return dirAnalysis ? dirAnalysis->GetSpecParm(code) : MISSING_VALUE;
    case 6: return dirAnalysis ? dirAnalysis->GetQualParm(code) : MISSING_VALUE;
    default:
        std::printf("Non existent level in Get(level, parm): level = %i\n", code / 1000);
        return MISSING_VALUE;
    }
}

void SWAPWaveAnalysis::Get(int code, float* values, int count)
{
    if (count > 0)
        std::fill_n(values, count, MISSING_VALUE);
    switch (code / 1000) {
    case 0: GetSeries(code, values, nullptr, count); break;
    case 1: heaveAnalysis->GetSpecArray(code, values, count); break;
    case 2: tdAnalysis->GetClasArray(code, values, count); break;
    case 4:
        if (dirAnalysis)
            dirAnalysis->GetSpecArray(code, values, count);
        break;
    case 5:
        if (dirAnalysis)
            dirAnalysis->GetBandArray(code, values, count);
        break;
    default: std::printf("Non existent level in Get(level, parm, index): level = %i\n", code / 1000);
    }
}

void SWAPWaveAnalysis::Get(int code, int32_t* flags, int count)
{
    if (count > 0)
        std::fill_n(flags, count, 0);
    if (code / 1000 == 0)
        GetSeries(code, nullptr, flags, count);
    else
        std::printf("Non existent level in Get(level, parm, index): level = %i\n", code / 1000);
}

void SWAPWaveAnalysis::GetSeries(int code, float* values, int32_t* flags, int count)
{
    if (code < 0 || code > 5) {
        std::printf("Non existent SPC_0_SENS: parm = %i\n", code);
        return;
    }
    const int signal = code % 3;
    // A series the sensor does not deliver stays as prefilled.
    if (signal > sampleAnalysis->GetLastSignal() || count <= 0)
        return;
    const bool record = code >= 3;
    SamplesPair* pair = sampleAnalysis->GetSamplesPair(signal);
    const int available = record ? pair->GetWorkCount() : pair->GetCurrent()->GetSampleCount();
    const int n = std::min(count, available);
    if (values)
        std::copy_n(record ? pair->GetD() : pair->GetCurrent()->GetD(), n, values);
    if (flags)
        std::copy_n(record ? pair->GetQ() : pair->GetCurrent()->GetQ(), n, flags);
}

// Record layouts: after the 12-byte header, runs of fields in order; each code
// from `first` to `last` fills `count` 32-bit values of the kind given.
namespace {

enum FieldKind { VALUE, VALUES, FLAGS };

struct FieldRun {
    int first, last, count;
    FieldKind kind;
};

template <size_t N>
constexpr int LayoutSize(const FieldRun (&runs)[N])
{
    int size = 12;
    for (const FieldRun& r : runs)
        size += (r.last - r.first + 1) * r.count * 4;
    return size;
}

constexpr FieldRun HLEV0_RUNS[] = {{0, 0, 1536, VALUES}, {0, 0, 1536, FLAGS}};
constexpr FieldRun HLEV1_RUNS[] = {{1000, 1000, 101, VALUES}, {2000, 2001, 600, VALUES}, {2002, 2002, 1, VALUE}};
constexpr FieldRun HLEV2_RUNS[] = {
    {1001, 1001, 51, VALUES}, {1002, 1017, 1, VALUE}, {1021, 1021, 1, VALUE}, {1018, 1020, 1, VALUE},
    {2003, 2021, 1, VALUE},   {3000, 3001, 1, VALUE}, {3004, 3004, 1, VALUE}, {3003, 3003, 1, VALUE},
    {3002, 3002, 1, VALUE},   {3005, 3005, 1, VALUE},
};
constexpr FieldRun HLEV4_RUNS[] = {{3, 3, 3072, VALUES}, {3, 3, 3072, FLAGS}};
constexpr FieldRun HDLEV0_RUNS[] = {{0, 2, 768, VALUES}, {0, 2, 768, FLAGS}};
constexpr FieldRun HDLEV1_RUNS[] = {
    {1000, 1000, 101, VALUES}, {2000, 2001, 600, VALUES}, {2002, 2002, 1, VALUE}, {4000, 4004, 101, VALUES}};
constexpr FieldRun HDLEV2_RUNS[] = {
    {1001, 1001, 51, VALUES}, {1002, 1003, 1, VALUE}, {1006, 1006, 1, VALUE},   {1009, 1009, 1, VALUE},
    {1011, 1016, 1, VALUE},   {1021, 1021, 1, VALUE}, {1018, 1020, 1, VALUE},   {2003, 2021, 1, VALUE},
    {4005, 4006, 51, VALUES}, {4007, 4011, 1, VALUE}, {5000, 5006, 15, VALUES}, {3000, 3001, 1, VALUE},
    {3004, 3004, 1, VALUE},   {3003, 3003, 1, VALUE}, {3002, 3002, 1, VALUE},   {3005, 3005, 1, VALUE},
    {6000, 6002, 1, VALUE},   {6005, 6005, 1, VALUE}, {6004, 6004, 1, VALUE},   {6003, 6003, 1, VALUE},
    {6006, 6006, 1, VALUE},   {6009, 6009, 1, VALUE}, {6008, 6008, 1, VALUE},   {6007, 6007, 1, VALUE},
    {6010, 6010, 1, VALUE},
};
constexpr FieldRun HDLEV4_RUNS[] = {{3, 5, 1536, VALUES}, {3, 5, 1536, FLAGS}};

static_assert(LayoutSize(HLEV0_RUNS) == sizeof(SWAPtag_HLEV0), "HLEV0 layout");
static_assert(LayoutSize(HLEV1_RUNS) == sizeof(SWAPtag_HLEV1), "HLEV1 layout");
static_assert(LayoutSize(HLEV2_RUNS) == sizeof(SWAPtag_HLEV2), "HLEV2 layout");
static_assert(LayoutSize(HLEV4_RUNS) == sizeof(SWAPtag_HLEV4), "HLEV4 layout");
static_assert(LayoutSize(HDLEV0_RUNS) == sizeof(SWAPtag_HDLEV0), "HDLEV0 layout");
static_assert(LayoutSize(HDLEV1_RUNS) == sizeof(SWAPtag_HDLEV1), "HDLEV1 layout");
static_assert(LayoutSize(HDLEV2_RUNS) == sizeof(SWAPtag_HDLEV2), "HDLEV2 layout");
static_assert(LayoutSize(HDLEV4_RUNS) == sizeof(SWAPtag_HDLEV4), "HDLEV4 layout");

} // namespace

struct SWAPWaveAnalysis::Layout {
    const FieldRun* runs;
    int runCount;
    int size;
    bool directional; // only a context with a directional analysis fills it
};

#define SWAP_LAYOUT(name, dir) \
    const SWAPWaveAnalysis::Layout SWAPWaveAnalysis::name = { \
        name##_RUNS, static_cast<int>(sizeof name##_RUNS / sizeof(FieldRun)), LayoutSize(name##_RUNS), dir}
SWAP_LAYOUT(HLEV0, false);
SWAP_LAYOUT(HLEV1, false);
SWAP_LAYOUT(HLEV2, false);
SWAP_LAYOUT(HLEV4, false);
SWAP_LAYOUT(HDLEV0, true);
SWAP_LAYOUT(HDLEV1, true);
SWAP_LAYOUT(HDLEV2, true);
SWAP_LAYOUT(HDLEV4, true);
#undef SWAP_LAYOUT

int SWAPWaveAnalysis::GetRecord(const Layout& layout, void* record)
{
    int32_t header[3];
    if (!record)
        return 0;
    std::memcpy(header, record, sizeof header);
    if (header[0] != layout.size || (layout.directional && !dirAnalysis))
        return 0;
    header[1] = GetWriteStamp().GetDate();
    header[2] = GetWriteStamp().GetTime() / 60;
    char* at = static_cast<char*>(record);
    std::memcpy(at, header, sizeof header);
    at += sizeof header;
    for (int r = 0; r < layout.runCount; ++r) {
        const FieldRun& run = layout.runs[r];
        for (int code = run.first; code <= run.last; ++code) {
            switch (run.kind) {
            case VALUE: {
                const float v = Get(code);
                std::memcpy(at, &v, sizeof v);
                break;
            }
            case VALUES: Get(code, reinterpret_cast<float*>(at), run.count); break;
            case FLAGS: Get(code, reinterpret_cast<int32_t*>(at), run.count); break;
            }
            at += 4 * run.count;
        }
    }
    return 1;
}

const float* SWAPWaveAnalysis::FieldOf(const Layout& layout, const void* record, int code, int* count)
{
    const char* at = static_cast<const char*>(record) + 12;
    for (int r = 0; r < layout.runCount; ++r) {
        const FieldRun& run = layout.runs[r];
        if (run.kind != FLAGS && code >= run.first && code <= run.last) {
            *count = run.count;
            return reinterpret_cast<const float*>(at + 4 * run.count * (code - run.first));
        }
        at += 4 * run.count * (run.last - run.first + 1);
    }
    *count = 0;
    return nullptr;
}

extern "C" {

SWAPWaveAnalysis* SWAPOpenContext(const SWAPtag_PARM* parm)
{
    if (!parm || parm->size != static_cast<int32_t>(sizeof(SWAPtag_PARM)))
        return nullptr;
    if (static_cast<uint32_t>(parm->sensorType) > 5)
        return nullptr;
    WaveSensor* sensor = CreateWaveSensor(parm->sensorType);
    if (!sensor)
        return nullptr;
    SWAPWaveAnalysis* context = new (std::nothrow) SWAPWaveAnalysis(sensor, parm->theta0);
    if (!context) {
        delete sensor;
        return nullptr;
    }
    // A context without its FFT table or tide buffer must not run.
    if (context->GetError() || !context->Init()) {
        delete context;
        return nullptr;
    }
    context->SetBasisSignal(parm->basisSignal);
    context->SetDelayTime1(parm->delayTime1);
    context->SetDelayTime2(parm->delayTime2);
    context->SetXposSensor1(parm->xposSensor1);
    context->SetXposSensor2(parm->xposSensor2);
    context->SetXposSensor3(parm->xposSensor3);
    context->SetYposSensor1(parm->yposSensor1);
    context->SetYposSensor2(parm->yposSensor2);
    context->SetYposSensor3(parm->yposSensor3);
    context->SetOrientation(parm->orientation);
    return context;
}

void SWAPCloseContext(SWAPWaveAnalysis* context)
{
    delete context;
}

int SWAPPutSample(SWAPWaveAnalysis* context, long date, long time, float v0, float v1, float v2)
{
    if (!context)
        return 0;
    float values[3] = {v0, v1, v2};
    int32_t flags[3];
    for (int i = 0; i < 3; ++i)
        flags[i] = ScreenSample(values[i]);
    return context->PutSample(date, time, values, flags);
}

int SWAPSetTheta0(SWAPWaveAnalysis* context, float theta0)
{
    if (!context)
        return 0;
    context->SetTheta0(theta0);
    return 1;
}

int SWAPForce(SWAPWaveAnalysis* context, long date, long seconds)
{
    return context ? context->Force(date, seconds) : 0;
}

#define SWAP_GETTER(function, record, layout) \
    int function(SWAPWaveAnalysis* context, record* r) \
    { \
        return context ? context->GetRecord(SWAPWaveAnalysis::layout, r) : 0; \
    }
SWAP_GETTER(SWAPGetHLevel0, SWAPtag_HLEV0, HLEV0)
SWAP_GETTER(SWAPGetHLevel1, SWAPtag_HLEV1, HLEV1)
SWAP_GETTER(SWAPGetHLevel2, SWAPtag_HLEV2, HLEV2)
SWAP_GETTER(SWAPGetHLevel3, SWAPtag_HLEV0, HLEV0)
SWAP_GETTER(SWAPGetHLevel4, SWAPtag_HLEV4, HLEV4)
SWAP_GETTER(SWAPGetHDLevel0, SWAPtag_HDLEV0, HDLEV0)
SWAP_GETTER(SWAPGetHDLevel1, SWAPtag_HDLEV1, HDLEV1)
SWAP_GETTER(SWAPGetHDLevel2, SWAPtag_HDLEV2, HDLEV2)
SWAP_GETTER(SWAPGetHDLevel3, SWAPtag_HDLEV0, HDLEV0)
SWAP_GETTER(SWAPGetHDLevel4, SWAPtag_HDLEV4, HDLEV4)
#undef SWAP_GETTER
}
