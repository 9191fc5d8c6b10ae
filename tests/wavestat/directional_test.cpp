// Directional analysis against the physics of pitch-and-roll records: wave
// trains whose heave and slopes are known give back their direction, the
// spread of two crossing trains follows sqrt(2 (1 - cos delta)), a narrow
// wrapped normal distribution has skewness 0 and kurtosis 3.
#include <gtest/gtest.h>

#include <cmath>

#include "context.h"

using namespace wavestat_test;

namespace {

constexpr int GAUGE_ARRAY = 5;
constexpr int N = 1536; // 20 minutes at 1.28 Hz

float Band(Context& c, int code, int band)
{
    return c.Array(code, 15)[band];
}

} // namespace

TEST(DirectionRoutines, RefuseZerosAndWrapIntoACircle)
{
    const float M = MISSING_VALUE;
    EXPECT_EQ(NauPhi(0.0f, 1.0f), M);
    EXPECT_EQ(NauPhi(1.0f, 0.0f), M);
    EXPECT_NEAR(NauPhi(-1.0f, -1.0f), 1.25 * M_PI, 1e-6);
    EXPECT_NEAR(CalcTh0(-1.0f, -1e-6f, 0.0f), 90.0, 1e-3);
    EXPECT_EQ(CalcTh0(0.0f, 1.0f, 0.0f), M);
    EXPECT_EQ(CalcTh0(M, 0.5f, 0.0f), M);
    // 350 degrees plus 20 wraps to 10.
    const float a = static_cast<float>(-std::sin(350.0 * M_PI / 180.0));
    const float b = static_cast<float>(-std::cos(350.0 * M_PI / 180.0));
    EXPECT_NEAR(CalcTh0(a, b, 0.0f), 350.0, 1e-3);
    EXPECT_NEAR(CalcTh0(a, b, 20.0f), 10.0, 1e-3);
    EXPECT_NEAR(CalcTh0(a, b, -700.0f), 10.0, 1e-3);
    // r >= 1 is no distribution: no spread, no kurtosis.
    EXPECT_EQ(CalcS0bh(0.6f, 0.8f), M);
    EXPECT_EQ(CalcG2(0.6f, 0.8f, 0.3f, 0.1f), M);
    EXPECT_EQ(CalcG1(0.0f, 0.5f, 0.3f, 0.1f), M);
    EXPECT_NEAR(CalcS0bh(0.3f, 0.4f), 57.29578, 1e-3); // sqrt(2 x 0.5) = 1 rad
}

TEST(DirectionRoutines, NarrowWrappedNormalHasSkewnessZeroKurtosisThree)
{
    // A wrapped normal of spread s about mu: first and second circular
    // moments exp(-s^2/2) and exp(-2 s^2).
    const double mu = 40.0 * M_PI / 180.0;
    const double s = 10.0 * M_PI / 180.0;
    const double r1 = std::exp(-s * s / 2.0), r2 = std::exp(-2.0 * s * s);
    const float A1 = static_cast<float>(r1 * std::cos(mu)), B1 = static_cast<float>(r1 * std::sin(mu));
    const float A2 = static_cast<float>(r2 * std::cos(2 * mu)), B2 = static_cast<float>(r2 * std::sin(2 * mu));
    EXPECT_NEAR(CalcG1(A1, B1, A2, B2), 0.0, 0.02);
    EXPECT_NEAR(CalcG2(A1, B1, A2, B2), 3.0, 0.1);
    EXPECT_NEAR(CalcS0bh(A1, B1), 10.0, 0.05);
    EXPECT_NEAR(CalcTh0(A1, B1, 0.0f), ComingFrom(40.0), 1e-3);
}

TEST(DirectionalAnalysis, OneTrainGivesTheDirectionItComesFrom)
{
    // (travelling towards, theta0): x east, y north gives the nautical direction.
    const double cases[][2] = {{10, 0}, {30, 0}, {90, 0}, {200, 0}, {330, 0}, {30, 20}, {300, 100}};
    for (const auto& c : cases) {
        Context ctx(GAUGE_ARRAY, static_cast<float>(c[1]));
        const DirRecord r(N, ctx.rate(), {{100.0, 0.08, c[0], 0.3}});
        ctx.Feed(r.heave, r.x, r.y);
        ASSERT_EQ(ctx.Force(), 1);
        const double expected = ComingFrom(c[0], c[1]);
        const std::vector<float> perBin = ctx.Array(4005, 51);
        const float measured[] = {ctx.Get(4007), ctx.Get(4009), perBin[8], Band(ctx, 5002, 2), Band(ctx, 5002, 14)};
        for (float d : measured) {
            ASSERT_NE(d, MISSING_VALUE) << "towards " << c[0];
            EXPECT_LT(AngleBetween(d, expected), 0.5) << "towards " << c[0] << " theta0 " << c[1] << ": " << d;
        }
        // A long-crested train has (almost) no spread; never a non-number.
        const float spread = ctx.Get(4008);
        EXPECT_TRUE(spread == MISSING_VALUE || spread < 1.0f) << spread;
        for (int code = 5000; code <= 5006; ++code)
            for (float v : ctx.Array(code, 15))
                EXPECT_FALSE(std::isnan(v)) << code;
        EXPECT_NEAR(Band(ctx, 5000, 10), 4.0 * std::sqrt(100.0 * 100.0 / 2.0), 0.02 * 282.8);
        EXPECT_EQ(ctx.Get(6000), 6.0f);
        EXPECT_EQ(ctx.Get(4010), 24.0f);
    }
}

TEST(DirectionalAnalysis, TwoCrossingTrainsSpreadBySqrtTwoOneMinusCosDelta)
{
    // Equal energy from mu + delta and mu - delta: mean mu, spread
    // sqrt(2 (1 - cos delta)) rad; 29.658 degrees for delta = 30.
    const double mu = 120.0, delta = 30.0;
    Context ctx(GAUGE_ARRAY);
    const DirRecord r(N, ctx.rate(), {{80.0, 0.07, mu + delta, 0.0}, {80.0, 0.15, mu - delta, 1.0}});
    ctx.Feed(r.heave, r.x, r.y);
    ASSERT_EQ(ctx.Force(), 1);
    EXPECT_LT(AngleBetween(ctx.Get(4007), ComingFrom(mu)), 1.0);
    const double spread = std::sqrt(2.0 * (1.0 - std::cos(delta * M_PI / 180.0))) * 180.0 / M_PI;
    EXPECT_NEAR(ctx.Get(4008), spread, 1.0);
    EXPECT_NEAR(Band(ctx, 5003, 10), spread, 1.0);
    // Each train's own band holds its own direction.
    EXPECT_LT(AngleBetween(Band(ctx, 5002, 2), ComingFrom(mu + delta)), 0.5);
    EXPECT_LT(AngleBetween(Band(ctx, 5002, 12), ComingFrom(mu - delta)), 0.5);
}

TEST(DirectionalAnalysis, PeakBandIsCentredOnTheStrongestBin)
{
    // 90 mHz is bin 18, whose frequency 0.09 x 1000 does not come out whole in
    // float: the band must still be 85 .. 95 mHz, symmetric about the peak.
    Context ctx(GAUGE_ARRAY);
    const DirRecord r(N, ctx.rate(), {{50.0, 0.2, 10.0, 0.0}, {100.0, 0.09, 10.0, 0.5}});
    ctx.Feed(r.heave, r.x, r.y);
    ASSERT_EQ(ctx.Force(), 1);
    EXPECT_NEAR(Band(ctx, 5006, 14), 90.0, 0.05);
}

TEST(DirectionalAnalysis, ASubSeriesCountsOnlyWhenAllThreeSignalsAreValid)
{
    // 5 missing samples (3.9 s, too long to repair) in the second horizontal
    // signal alone reject one sub-series of the directional analysis only.
    Context ctx(GAUGE_ARRAY);
    DirRecord r(N, ctx.rate(), {{100.0, 0.1, 45.0, 0.0}});
    for (int i = 700; i < 705; ++i)
        r.y[i] = MISSING_VALUE;
    ctx.Feed(r.heave, r.x, r.y);
    ASSERT_EQ(ctx.Force(), 1);
    EXPECT_EQ(ctx.Get(6000), 5.0f);
    EXPECT_EQ(ctx.Get(4010), 20.0f);
    EXPECT_EQ(ctx.Get(3000), 6.0f);
    EXPECT_EQ(ctx.Get(6001), 100.0f);
    EXPECT_NEAR(ctx.Get(6002), (N - 5) * 100.0 / N, 1e-4);
    EXPECT_LT(AngleBetween(ctx.Get(4007), ComingFrom(45.0)), 0.5);
}
