// Zero-crossing wave classification on records whose waves are known by
// construction: sines, and trains of half-waves of chosen lengths.
#include <gtest/gtest.h>

#include <cmath>

#include "record.h"

using namespace wavestat_test;

namespace {

// Half-waves last whole sample periods (0.390625 s at 2.56 Hz), so every
// crossing falls on a sample of value 0 and each duration is exact.
constexpr double DT = 0.390625;

struct Half {
    int samples;      // duration in sample periods
    double amplitude; // its sign gives the half's side
};

// The pattern of half sines repeated over n samples; from sample `from` on,
// the extra halves once, then the pattern again.
std::vector<float> HalfWaves(const std::vector<Half>& pattern, int n, int from = 1 << 30,
                             const std::vector<Half>& extra = {})
{
    std::vector<float> x;
    bool inserted = false;
    while (static_cast<int>(x.size()) < n) {
        const bool now = !inserted && static_cast<int>(x.size()) >= from;
        inserted = inserted || now;
        for (const Half& h : now ? extra : pattern)
            for (int k = 0; k < h.samples; ++k)
                x.push_back(static_cast<float>(h.amplitude * std::sin(M_PI * k / h.samples)));
    }
    x.resize(n);
    return x;
}

// The time-domain analysis straight on a cleaned working series.
void Classify(Record& r, const std::vector<float>& x)
{
    std::copy(x.begin(), x.end(), r.samples.GetD(0));
    r.waves.Clear();
    r.waves.Process(&r.samples);
}

} // namespace

TEST(WaveClassification, SineRecordGivesItsWaves)
{
    Record r(GAUGE);
    r.Run(Series(3072, 2.56, Wave(500.0, 50.0, 0.16)));
    // 192 down-crossings: 191 waves of 6.25 s between the first and the last.
    ASSERT_EQ(r.waves.GetWaveCount(), 191);
    for (int i = 0; i < 191; ++i) {
        EXPECT_NEAR(r.waves.GetHeights()[i], 100.0, 0.2) << "wave " << i;
        EXPECT_NEAR(r.waves.GetPeriods()[i], 6.25, 0.01) << "wave " << i;
        if (i > 0) { // sorted by period, longest first
            EXPECT_GE(r.waves.GetPeriods()[i - 1], r.waves.GetPeriods()[i]);
        }
    }
    const double expect[][3] = {
        {2002, 191, 0}, {2010, 191, 0}, {2017, 191 * 6.25 / 12.0, 0.01}, {2003, 100, 0.2}, {2005, 100, 0.2},
        {2006, 100, 0.2}, {2008, 100, 0.2}, {2013, 100, 0.2}, {2004, 6.25, 0.01}, {2007, 6.25, 0.01},
        {2009, 6.25, 0.01}, {2014, 6.25, 0.01}, {2015, 6.25, 0.01}, {2011, 0, 0.1}, {2012, 0, 0.01},
        {2016, 50, 1.0}, // the tide estimate at the record ends takes in a little of the wave {2020, 1250, 2.5}, {2021, 141.42, 0.15}, {2018, 1e4, 40}, {2019, 141.42, 0.3},
    };
    for (const auto& e : expect)
        EXPECT_NEAR(r.H(static_cast<int>(e[0])), e[1], e[2]) << "code " << e[0];
}

TEST(WaveClassification, ShortHalfWavesJoinTheirNeighbours)
{
    // A 10.9 s wave (28 samples) with a 0.78 s dip and a 0.78 s bump after
    // its crest half: the ripple is no wave of its own, its time goes to the
    // long waves.
    Record r(RIDER);
    Classify(r, HalfWaves({{12, 40.0}, {2, -3.0}, {2, 3.0}, {12, -40.0}}, 3072));
    // The first crest half has no start: waves end at samples 28 k + 12, k = 1 .. 109.
    ASSERT_EQ(r.waves.GetWaveCount(), 109);
    for (int i = 0; i < 109; ++i) {
        EXPECT_FLOAT_EQ(r.waves.GetPeriods()[i], 28 * DT) << i;
        EXPECT_FLOAT_EQ(r.waves.GetHeights()[i], 80.0f) << i;
    }
}

TEST(WaveClassification, FewWavesLeaveTheRareStatisticsMissing)
{
    const struct {
        double period;
        int waves;
        bool h10, h50;
    } rows[] = {
        {50.0, 23, true, false}, // 23 / 50 < 0.5
        {240.0, 4, false, false}, // 4 / 10 < 0.5
    };
    for (const auto& row : rows) {
        Record r(RIDER);
        Classify(r, Series(3072, 2.56, Wave(0.0, 50.0, 1.0 / row.period, 0.4)));
        EXPECT_EQ(r.H(2002), row.waves) << row.period;
        EXPECT_EQ(r.H(2005) != MISSING_VALUE, row.h10) << row.period;
        EXPECT_EQ(r.H(2006) != MISSING_VALUE, row.h50) << row.period;
        EXPECT_NEAR(r.H(2003), 100.0, 0.5) << row.period;
    }
}

TEST(WaveClassification, UnderTwoHundredSecondsOfWavesGiveNoStatistics)
{
    Record r(RIDER);
    std::vector<float> x(3072, MISSING_VALUE);
    const std::vector<float> wave = Series(3072, 2.56, Wave(0.0, 50.0, 0.16));
    std::copy_n(wave.begin(), 480, x.begin()); // 187.5 s
    Classify(r, x);
    EXPECT_EQ(r.H(2010), 29.0f);
    EXPECT_NEAR(r.H(2017), 29 * 6.25 / 12.0, 0.01);
    for (int code : {2016, 2020, 2021})
        EXPECT_NE(r.H(code), MISSING_VALUE) << code;
    for (int code = 2002; code <= 2019; ++code) {
        if (code != 2010 && code != 2016 && code != 2017) {
            EXPECT_EQ(r.H(code), MISSING_VALUE) << code;
        }
    }
}

TEST(WaveClassification, MissingSampleDiscardsTheWaveInProgress)
{
    Record r(RIDER);
    std::vector<float> x = Series(3072, 2.56, Wave(0.0, 50.0, 0.16));
    x[1536] = MISSING_VALUE; // a crest in the middle of the record
    Classify(r, x);
    EXPECT_EQ(r.waves.GetWaveCount(), 190);
    EXPECT_NEAR(r.H(2017), 190 * 6.25 / 12.0, 0.01);
}

TEST(WaveClassification, CountStopsAt599WithoutLosingCountedWaves)
{
    // 1.95 s waves (1.17 s crest half, 0.78 s trough half): 613 in 1200 s.
    const std::vector<Half> chop = {{3, 20.0}, {2, -20.0}};
    Record plain(RIDER);
    Classify(plain, HalfWaves(chop, 3072));
    EXPECT_EQ(plain.H(2010), 599.0f);
    EXPECT_FLOAT_EQ(plain.H(2014), 5 * DT);
    EXPECT_NEAR(plain.H(2017), 599 * 5 * DT / 12.0, 1e-3);

    // Past the cap (wave 599 ends at sample 2998) a long trough, a short
    // crest and a short trough: the dip takes back the last, uncounted wave,
    // and the merged 10-sample wave must not replace counted wave 598.
    Record dip(RIDER);
    Classify(dip, HalfWaves(chop, 3072, 3005, {{3, 20.0}, {3, -20.0}, {2, 20.0}, {2, -20.0}}));
    EXPECT_EQ(dip.H(2010), 599.0f);
    EXPECT_FLOAT_EQ(dip.H(2014), 5 * DT);
    EXPECT_NEAR(dip.H(2017), 599 * 5 * DT / 12.0, 1e-3);
}

TEST(WaveClassification, PartialMeanAndDescendingSort)
{
    const float v[] = {9.0f, 7.0f, 4.0f, 2.0f};
    EXPECT_EQ(PartialMean(v, 0.4f), MISSING_VALUE);
    EXPECT_EQ(PartialMean(v, 1.0f), 9.0f);
    EXPECT_FLOAT_EQ(PartialMean(v, 2.5f), (9.0f + 7.0f + 0.5f * 4.0f) / 2.5f);
    EXPECT_FLOAT_EQ(PartialMean(v, 3.0f), 20.0f / 3.0f);

    float keys[] = {3, 8, 1, 8, 5, 0, 7};
    float companions[] = {30, 80, 10, 81, 50, 0, 70};
    RevQuickSort(0, 6, keys, companions);
    const float sorted[] = {8, 8, 7, 5, 3, 1, 0};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(keys[i], sorted[i]);
        EXPECT_EQ(std::floor(companions[i] / 10.0f), keys[i]);
    }
}
