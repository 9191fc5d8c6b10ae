// Heave spectral analysis against physics: the variance of a sine is A^2/2,
// Hm0 = 4 sqrt(m0), Parseval on noise, a naive double-precision DFT, and the
// textbook responses of the buoys' filters and of the tide filter.
#include <gtest/gtest.h>

#include <cmath>

#include "record.h"

using namespace wavestat_test;

namespace {

// Record R1: 500 + 50 cos(2 pi i / 16) at 2.56 Hz, a 6.25 s (160 mHz) wave
// with exactly 32 periods per 200 s sub-series.
std::vector<float> R1()
{
    return Series(3072, 2.56, Wave(500.0, 50.0, 0.16));
}

struct Expect {
    int code;
    double value;
    double tolerance; // absolute
};

} // namespace

TEST(HeaveSpectrum, SineRecordGivesItsVarianceHeightPeakAndPeriods)
{
    Record r(GAUGE);
    r.Run(R1());
    const double m0 = 50.0 * 50.0 / 2.0;
    const Expect expect[] = {
        {1002, m0, 0.01 * m0}, {1003, 4.0 * std::sqrt(m0), 0.005 * 141.42}, {1011, m0, 0.01 * m0},
        {1009, 0.0, 0.005 * m0}, {1012, 0.0, 0.005 * m0}, {1016, 160.0, 1e-3}, {1017, 160.0, 1e-3},
        {1006, 6.25, 0.0625}, {1019, 6.25, 0.0625}, {1021, 24.0, 0.0},
    };
    for (const Expect& e : expect)
        EXPECT_NEAR(r.H(e.code), e.value, e.tolerance) << "code " << e.code;
    const double quality[] = {6, 100, 0, 0, 0, 0};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(r.Q(3000 + i), quality[i]) << "code " << 3000 + i;
}

TEST(HeaveSpectrum, EveryBinMatchesADoublePrecisionPeriodogram)
{
    Record r(RIDER);
    r.Run(Noise(3072, 30.0, 7));
    const float* x = r.samples.GetD(0);
    std::vector<double> reference(256, 0.0);
    for (int s = 0; s < 6; ++s) {
        const auto bins = ReferenceBins(x + 512 * s, 512, TAPER);
        for (int k = 1; k < 256; ++k)
            reference[k] += std::norm(bins[k]) * 100.0 / 6.0;
    }
    for (int k = 1; k < 256; ++k)
        EXPECT_NEAR(r.heave.GetCZZ()[k], reference[k], 1e-4 * reference[k]) << "bin " << k;
    EXPECT_EQ(r.heave.GetCZZ()[0], 0.0f);
}

TEST(HeaveSpectrum, NoiseVarianceIsConservedAndSpreadEvenly)
{
    // White noise of variance s^2 at 2.56 Hz has the one-sided density s^2 / 1.28 Hz.
    const double s = 20.0;
    double band = 0.0;
    const int records = 8;
    for (int seed = 1; seed <= records; ++seed) {
        Record r(RIDER);
        r.Run(Noise(3072, s, seed));
        double total = 0.0;
        for (int k = 1; k < 256; ++k)
            total += r.heave.GetCZZ()[k] * 0.005;
        // Parseval: the spectrum holds the variance of the sub-series it came from.
        const float* x = r.samples.GetD(0);
        double variance = 0.0;
        for (int sub = 0; sub < 6; ++sub) {
            double mean = 0.0, sq = 0.0;
            for (int i = 0; i < 512; ++i)
                mean += x[512 * sub + i] / 512.0;
            for (int i = 0; i < 512; ++i)
                sq += (x[512 * sub + i] - mean) * (x[512 * sub + i] - mean) / 512.0;
            variance += sq / 6.0;
        }
        EXPECT_NEAR(total, variance, 0.02 * variance) << "seed " << seed;
        band += r.H(1002) / records;
    }
    // 94 bins x 12 degrees of freedom x 8 records: about 1.5 % spread.
    EXPECT_NEAR(band, s * s * 0.47 / 1.28, 0.05 * s * s * 0.47 / 1.28);
}

TEST(HeaveSpectrum, JonswapRecordGivesItsIntegralParameters)
{
    // Sampling variability of Hm0 over one record is about 1.5 %: four records
    // bring the mean to about 0.7 %.
    double ratio = 0.0;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const MultiSine sea(200.0, 0.1, seed);
        Record r(GAUGE);
        // On a tide rising 30 cm over the 20 minutes.
        r.Run(Series(3072, 2.56, [&](double t) { return 700.0 + 0.025 * t + sea(t); }));
        const double m0 = sea.moment(0, 0.03, 0.5), m2 = sea.moment(2, 0.03, 0.5);
        ratio += r.H(1003) / (4.0 * std::sqrt(m0)) / 4.0;
        EXPECT_NEAR(r.H(1016), 100.0, 10.0) << seed;
        EXPECT_NEAR(r.H(1006), std::sqrt(m0 / m2), 0.02 * std::sqrt(m0 / m2)) << seed;
        EXPECT_EQ(r.Q(3000), 6.0f) << seed;
    }
    EXPECT_NEAR(ratio, 1.0, 0.03);
}

TEST(HeaveSpectrum, GapInOneSubSeriesLeavesFiveSpectraThatStillAverageRight)
{
    Record r(GAUGE);
    std::vector<float> x = R1();
    // 13 samples (5 s, too long to repair) in the middle of sub-series 2.
    for (int i = 1280; i < 1293; ++i)
        x[i] = MISSING_VALUE;
    r.Run(x);
    EXPECT_EQ(r.Q(3000), 5.0f);
    EXPECT_EQ(r.H(1021), 20.0f);
    EXPECT_NEAR(r.Q(3001), (3072.0 - 13.0) * 100.0 / 3072.0, 1e-3);
    EXPECT_NEAR(r.H(1002), 1250.0, 12.5);
}

TEST(HeaveSpectrum, SensorResponsesAreTakenOutOfTheSpectrum)
{
    // Each sensor sees a wave of amplitude 50 through its own response; the
    // corrected spectrum must give Hm0 = 2 sqrt(2) x 50 again.
    const double fc = 1.0 / 30.8, f1 = 1.0 / 170.0;
    auto box4 = [](double f, double rate) { // the tide filter's amplitude response
        const double w = M_PI * f / rate;
        const double r = std::sin(27.0 * w) / (27.0 * std::sin(w));
        return 1.0 - std::pow(r, 4);
    };
    struct Row {
        int type;
        double f;
        double response; // amplitude the sensor passes
        double tolerance;
        int code; // Hm0 over 30-500 mHz, or 1018 where 30 mHz is no band edge
    } rows[] = {
        {RIDER, 0.16, 1.0, 0.005, 1003},
        {GAUGE_1_28, 0.16, 1.0, 0.005, 1003},
        {DRIDER, 0.04, std::sqrt(1.0 / (1.0 + std::pow(fc / 0.04, 6))), 0.01, 1003},
        {WAVEC, 0.04, std::sqrt(1.0 / (1.0 + std::pow(fc / 0.04, 4)) / (1.0 + std::pow(f1 / 0.04, 2))), 0.01, 1003},
        {GAUGE_ARRAY, 0.04, 1.0, 0.01, 1003},
        // The gauges' tide removal itself attenuates these waves by 13 % and 39 %.
        {GAUGE, 0.05, 1.0, 0.03, 1003},
        {GAUGE, 0.035, 1.0, 0.05, 1018},
    };
    for (const Row& row : rows) {
        Record r(row.type);
        r.Run(Series(r.n(), r.rate(), Wave(300.0, 50.0 * row.response, row.f, 0.3)));
        EXPECT_NEAR(r.H(row.code), 141.42, row.tolerance * 141.42) << "type " << row.type << " at " << row.f;
        const bool slow = r.sensor->GetSCnt() < 512;
        for (int code : {1004, 1005, 1007, 1008, 1010, 1017, 1020})
            EXPECT_EQ(r.H(code) == MISSING_VALUE, slow) << "type " << row.type << " code " << code;
        if (row.type == GAUGE && row.f == 0.05) { // the waves themselves keep the attenuation
            EXPECT_NEAR(r.H(2008), box4(0.05, 2.56) * 100.0, 2.0);
        }
    }
}

TEST(HeaveSpectrum, BandIntegralsFollowTheTrapezoidRule)
{
    RiderSensor sensor;
    SpectralAnalysis band(&sensor);
    std::vector<float> flat(128, 2.0f), rising(128), zero(128, 0.0f), inverse(128);
    for (int i = 1; i < 128; ++i) {
        rising[i] = static_cast<float>(i);
        inverse[i] = 1.0f / static_cast<float>(i);
    }
    // Integrands constant or linear in f, where the trapezoid rule is exact.
    EXPECT_FLOAT_EQ(band.BandEnergy(flat.data(), 30, 500, 10), 2.0f * 0.47f);
    EXPECT_FLOAT_EQ(band.FirstMoment(flat.data(), 30, 500, 10), 2.0f * (0.25f - 0.0009f) / 2.0f);
    EXPECT_FLOAT_EQ(band.MinusFirstMoment(rising.data(), 30, 500, 10), 47.0f);
    EXPECT_NEAR(band.SecondMoment(inverse.data(), 30, 500, 10), (0.25 - 0.0009) / 2.0 * 0.01, 1e-8);
    EXPECT_FLOAT_EQ(band.BandEnergy(flat.data(), 30, 140, 5), 2.0f * 0.11f);
    // No energy in the band: no period, no peak.
    EXPECT_EQ(band.AveragePeriod(zero.data(), 30, 500, 10), MISSING_VALUE);
    EXPECT_EQ(band.MinusFirstMomentPeriod(zero.data(), 30, 500, 10), MISSING_VALUE);
    EXPECT_EQ(band.PeakFrequency(zero.data(), 30, 500, 10), MISSING_VALUE);
    // Of two equal maxima the lower frequency is the peak.
    zero[12] = zero[31] = 5.0f;
    EXPECT_FLOAT_EQ(band.PeakFrequency(zero.data(), 30, 500, 10), 0.12f);
}
