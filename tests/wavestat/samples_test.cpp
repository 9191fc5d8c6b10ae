// Sample placement and the cleaning of the working series, on series with
// injected gaps, spikes, steps and flat runs of known counts.
#include <gtest/gtest.h>

#include <cmath>

#include "record.h"

using namespace wavestat_test;

namespace {

// Signal i of a sample holds value v + 100 i.
void Put(SampleAnalysis& s, int slot, float v, bool next = false, int* done = nullptr)
{
    const float values[3] = {v, v + 100.0f, v + 200.0f};
    const int32_t flags[3] = {SAMPLE_RECEIVED, SAMPLE_RECEIVED, SAMPLE_RECEIVED};
    int unused;
    if (next)
        s.SetNextSample(slot, values, flags, done ? done : &unused);
    else
        s.SetCurrentSample(slot, values, flags);
}

using Slot = std::pair<float, int32_t>;

// Value and flags of a slot.
Slot At(Samples* block, int slot)
{
    int32_t f;
    const float v = block->GetSample(slot, &f);
    return {v, f};
}

// The working series of a 2.56 Hz (or 1.28 Hz) signal: a 16-sample sine of amplitude 1.
std::vector<float> Sine(int n)
{
    std::vector<float> x(n);
    for (int i = 0; i < n; ++i)
        x[i] = static_cast<float>(std::sin(2.0 * M_PI * i / 16.0 + 0.2));
    return x;
}

// Loads a working series straight into the record's signal 0 (flags: received).
SamplesPair& Working(Record& r, const std::vector<float>& x)
{
    SamplesPair& p = r.pair();
    std::copy(x.begin(), x.end(), p.GetD());
    std::fill_n(p.GetQ(), x.size(), SAMPLE_RECEIVED);
    return p;
}

} // namespace

TEST(SamplePlacement, TakenSlotMovesEarlierSamplesDown)
{
    DRiderSensor sensor;
    SampleAnalysis s(&sensor, 2);
    Put(s, 2, 1.0f);
    Put(s, 3, 2.0f);
    Put(s, 3, 3.0f); // slot 1 is the nearest empty one below
    Samples* cur = s.GetSamplesPair(2)->GetCurrent();
    EXPECT_EQ(At(cur, 1), Slot(201.0f, SAMPLE_RECEIVED | SAMPLE_MOVED));
    EXPECT_EQ(At(cur, 2), Slot(202.0f, SAMPLE_RECEIVED | SAMPLE_MOVED));
    EXPECT_EQ(At(cur, 3), Slot(203.0f, SAMPLE_RECEIVED | SAMPLE_MOVED));
    EXPECT_EQ(At(cur, 0).second, 0);

    // With every slot below taken the new sample overwrites.
    Put(s, 0, 4.0f);
    Put(s, 0, 5.0f);
    EXPECT_EQ(At(cur, 0), Slot(205.0f, SAMPLE_RECEIVED));
    float v[3];
    int32_t f[3];
    s.GetCurrentSample(3, v, f);
    EXPECT_EQ(v[0], 3.0f);
    EXPECT_EQ(f[1], SAMPLE_RECEIVED | SAMPLE_MOVED);
}

TEST(SamplePlacement, NextBlockReportsTheCurrentBlockComplete)
{
    RiderSensor sensor;
    SampleAnalysis s(&sensor, 0);
    int done = -1;
    Put(s, 0, 1.0f, true, &done);
    EXPECT_EQ(done, 0);
    Put(s, 5, 2.0f, true, &done); // an unmoved sample at an earlier slot
    EXPECT_EQ(done, 1);

    // The next block full below a taken slot 0: the current block's last
    // slot is borrowed, and moved samples do not count as earlier ones.
    SampleAnalysis t(&sensor, 0);
    Put(t, 1535, 7.0f);
    Put(t, 0, 8.0f, true, &done);
    Put(t, 0, 9.0f, true, &done);
    EXPECT_EQ(done, 0);
    Samples* cur = t.GetSamplesPair(0)->GetCurrent();
    Samples* next = t.GetSamplesPair(0)->GetNext();
    EXPECT_EQ(At(cur, 1534), Slot(7.0f, SAMPLE_RECEIVED | SAMPLE_MOVED));
    EXPECT_EQ(At(cur, 1535), Slot(8.0f, SAMPLE_RECEIVED | SAMPLE_MOVED));
    EXPECT_EQ(At(next, 0), Slot(9.0f, SAMPLE_RECEIVED | SAMPLE_MOVED));
    Put(t, 1, 10.0f, true, &done);
    EXPECT_EQ(done, 0);

    // Shift: the next block becomes the current one; Copy joins the last two.
    t.Shift();
    t.Copy();
    EXPECT_EQ(t.GetD(0)[1534], 7.0f);
    EXPECT_EQ(t.GetD(0)[1536], 9.0f);
    EXPECT_EQ(t.GetCurrentD(0)[1], 10.0f);
}

TEST(SampleCleaning, InjectedFaultsAreCountedAndRepaired)
{
    struct Row {
        const char* what;
        std::function<void(std::vector<float>&)> inject;
        int errors, flat, outliers, jumps, repaired;
    } rows[] = {
        {"clean", [](std::vector<float>&) {}, 0, 0, 0, 0, 0},
        {"flat run of 30", [](std::vector<float>& x) { std::fill_n(&x[500], 30, 0.3f); }, 0, 30, 0, 0, 0},
        {"flat run of 20 stays", [](std::vector<float>& x) { std::fill_n(&x[500], 20, 0.3f); }, 0, 0, 0, 0, 0},
        {"lone sample", [](std::vector<float>& x) {
             std::fill_n(&x[500], 30, MISSING_VALUE);
             x[515] = 0.5f;
         }, 29, 1, 0, 0, 0},
        {"spike beyond 4 rms", [](std::vector<float>& x) { x[700] = 10.0f; }, 0, 0, 1, 0, 1},
        // 2.5 stays under 4 rms (2.9) but jumps: the sample before it, then itself.
        {"spike within 4 rms", [](std::vector<float>& x) { x[703] += 2.5f; }, 0, 0, 0, 2, 2},
        {"lasting step", [](std::vector<float>& x) { for (size_t i = 1503; i < x.size(); ++i) x[i] += 2.0f; }, 0, 0, 0, 1, 1},
    };
    for (const Row& row : rows) {
        Record r(RIDER);
        std::vector<float> x = Sine(3072);
        row.inject(x);
        SamplesPair& p = Working(r, x);
        p.PreProcess();
        EXPECT_EQ(p.GetErrorCount(), row.errors) << row.what;
        EXPECT_EQ(p.GetSigma0Errors(), row.flat) << row.what;
        EXPECT_EQ(p.GetSigma4Errors(), row.outliers) << row.what;
        EXPECT_EQ(p.GetDelta4Errors(), row.jumps) << row.what;
        EXPECT_EQ(p.GetRepairCount(), row.repaired) << row.what;
    }
}

TEST(SampleCleaning, RepairLimitsFollowTheSampleRate)
{
    // Inner gaps under 2 s are interpolated on the straight line, end gaps
    // under 1 s take the neighbouring value.
    const struct {
        int type, start, length;
        bool repaired;
    } rows[] = {
        {RIDER, 100, 5, true}, {RIDER, 100, 6, false}, {RIDER, 0, 2, true}, {RIDER, 0, 3, false},
        {RIDER, 3070, 2, true}, {GAUGE_1_28, 100, 2, true}, {GAUGE_1_28, 100, 3, false},
        {GAUGE_1_28, 0, 1, true}, {GAUGE_1_28, 0, 2, false}, {GAUGE_1_28, 1535, 1, true},
    };
    for (const auto& row : rows) {
        Record r(row.type);
        std::vector<float> x = Sine(r.n());
        std::fill_n(&x[row.start], row.length, MISSING_VALUE);
        SamplesPair& p = Working(r, x);
        EXPECT_EQ(p.Repair(2.0f), row.repaired ? row.length : 0) << row.type << " " << row.start << " " << row.length;
        const float* y = p.GetD();
        for (int i = row.start; row.repaired && i < row.start + row.length; ++i) {
            const int a = row.start - 1, b = row.start + row.length;
            const float expect = a < 0 ? x[b] : b >= r.n() ? x[a] : x[a] + (x[b] - x[a]) * (i - a) / (b - a);
            EXPECT_NEAR(y[i], expect, 1e-6f);
            EXPECT_EQ(p.GetQ()[i], SAMPLE_RECEIVED | SAMPLE_REPAIRED);
        }
    }
}

TEST(SampleCleaning, DegenerateSeries)
{
    Record r(RIDER);
    // All present values equal: one flat run, removed entirely.
    std::vector<float> x(3072, 4.0f);
    std::fill_n(&x[10], 100, MISSING_VALUE);
    SamplesPair& p = Working(r, x);
    EXPECT_EQ(p.PreProcess(), MISSING_VALUE);
    EXPECT_EQ(p.GetSigma0Errors(), 2972);
    EXPECT_EQ(p.GetQ()[2000], SAMPLE_RECEIVED | SAMPLE_FLAT_RUN);

    // Nothing present: every sample an error, nothing else counted.
    Working(r, std::vector<float>(3072, MISSING_VALUE));
    EXPECT_EQ(p.PreProcess(), MISSING_VALUE);
    EXPECT_EQ(p.GetErrorCount(), 3072);
    EXPECT_EQ(p.GetSigma0Errors() + p.GetSigma4Errors() + p.GetDelta4Errors() + p.GetRepairCount(), 0);
}

TEST(SampleCleaning, MeanSigmaAndInputScreen)
{
    const float M = MISSING_VALUE;
    const struct {
        std::vector<float> x;
        float mean, sigma;
    } rows[] = {
        {{M, M}, M, M},
        {{M, 3.0f, NAN}, 3.0f, 0.0f},
        {{1.0f, 2.0f, M, 6.0f, INFINITY}, 3.0f, std::sqrt(7.0f)},
    };
    for (const auto& row : rows) {
        const float mean = FloatArrayMean(row.x.data(), static_cast<int>(row.x.size()));
        EXPECT_EQ(mean, row.mean);
        EXPECT_FLOAT_EQ(FloatArraySigma(row.x.data(), static_cast<int>(row.x.size()), mean), row.sigma);
    }
    const struct {
        float in, out;
        int32_t flags;
    } screen[] = {
        {1000000.0f, 1000000.0f, 1}, {-1000000.0f, -1000000.0f, 1}, {1000000.1f, M, 9},
        {NAN, M, 9}, {-INFINITY, M, 9}, {M, M, 9},
    };
    for (const auto& s : screen) {
        float v = s.in;
        EXPECT_EQ(ScreenSample(v), s.flags) << s.in;
        EXPECT_EQ(v, s.out) << s.in;
    }
    EXPECT_EQ(fsqrt(-4.0f), 0.0f);
    EXPECT_EQ(fsqrt(6.25f), 2.5f);
}
