// Sensor models against the textbook responses of the buoys' Butterworth
// high-pass filters and of the gauges' four-fold box filter.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>

#include "record.h"

using namespace wavestat_test;

namespace {

using cd = std::complex<double>;

// Responses at frequency f (Hz), in the Laplace domain s = i 2 pi f.
cd Butterworth2(double f, double fc)
{
    const cd s(0.0, 2.0 * M_PI * f);
    const double w = 2.0 * M_PI * fc;
    return s * s / (s * s + M_SQRT2 * w * s + w * w);
}
cd Butterworth3(double f, double fc)
{
    const cd s(0.0, 2.0 * M_PI * f);
    const double w = 2.0 * M_PI * fc;
    return s * s * s / (s * s * s + 2.0 * w * s * s + 2.0 * w * w * s + w * w * w);
}
cd HighPass1(double f, double fc)
{
    const cd s(0.0, 2.0 * M_PI * f);
    return s / (s + 2.0 * M_PI * fc);
}

// Amplitude response of a centred box of 2a + 1 samples at f.
double Box(double f, double rate, int a)
{
    double sum = 0.0;
    for (int m = -a; m <= a; ++m)
        sum += std::cos(2.0 * M_PI * f * m / rate);
    return sum / (2 * a + 1);
}

} // namespace

TEST(SensorModels, TypesGiveTheirRatesAndSignals)
{
    const struct {
        int type, sCnt;
        float rate;
        int tide, directional;
    } rows[] = {
        {0, 256, 1.28f, 0, 1}, {1, 256, 1.28f, 0, 1}, {2, 512, 2.56f, 0, 0},
        {3, 512, 2.56f, 1, 0}, {4, 256, 1.28f, 1, 0}, {5, 256, 1.28f, 0, 1},
    };
    for (const auto& row : rows) {
        std::unique_ptr<WaveSensor> s(CreateWaveSensor(row.type));
        ASSERT_TRUE(s) << row.type;
        EXPECT_EQ(s->GetSCnt(), row.sCnt);
        EXPECT_EQ(s->GetSampleRate(), row.rate);
        EXPECT_EQ(s->HasTide(), row.tide);
        EXPECT_EQ(s->IsDirectional(), row.directional);
    }
    EXPECT_EQ(CreateWaveSensor(6), nullptr);
    EXPECT_EQ(CreateWaveSensor(-1), nullptr);
}

TEST(SensorModels, CorrectionsInvertTheFilterResponses)
{
    const double fc = 1.0 / 30.8, f1 = 1.0 / 170.0;
    struct Row {
        int type;
        std::function<cd(double)> response; // what the sensor passes at f
        bool crossPhase;                     // cross spectra turn with the heave phase
    } rows[] = {
        {WAVEC, [&](double f) { return Butterworth2(f, fc) * HighPass1(f, f1); }, true},
        {DRIDER, [&](double f) { return cd(std::abs(Butterworth3(f, fc))); }, false},
        {RIDER, [](double) { return cd(1.0); }, false},
        {GAUGE_ARRAY, [](double) { return cd(1.0); }, false},
    };
    for (const Row& row : rows) {
        std::unique_ptr<WaveSensor> sensor(CreateWaveSensor(row.type));
        std::vector<std::vector<float>> s(8, std::vector<float>(128));
        for (int j = 0; j < 8; ++j)
            for (int k = 0; k < 128; ++k)
                s[j][k] = 1.0f + 0.25f * j;
        std::vector<float> heave = s[0];
        float* arrays[8];
        for (int j = 0; j < 8; ++j)
            arrays[j] = s[j].data();
        sensor->CorrectHeave(5, 128, heave.data());
        sensor->CorrectCoQuad(5, 128, arrays);
        for (int k = 5; k < 128; ++k) {
            const double f = 0.005 * k;
            const cd h = row.response(f);
            const double power = 1.0 / std::norm(h);
            EXPECT_NEAR(heave[k], power, 1e-5 * power) << row.type << " bin " << k;
            EXPECT_NEAR(s[0][k], power, 1e-5 * power) << row.type << " bin " << k;
            // C12 + i Q12 and C13 + i Q13 (1.75 + 2.5 i and 2 + 2.75 i at the start).
            const cd gain = row.crossPhase ? 1.0 / h : cd(power);
            const cd c12 = gain * cd(1.75, 2.5), c13 = gain * cd(2.0, 2.75);
            EXPECT_NEAR(s[3][k], c12.real(), 1e-5 * std::abs(c12)) << row.type << " bin " << k;
            EXPECT_NEAR(s[6][k], c12.imag(), 1e-5 * std::abs(c12)) << row.type << " bin " << k;
            EXPECT_NEAR(s[4][k], c13.real(), 1e-5 * std::abs(c13)) << row.type << " bin " << k;
            EXPECT_NEAR(s[7][k], c13.imag(), 1e-5 * std::abs(c13)) << row.type << " bin " << k;
            // The horizontal auto- and cross-spectra only follow a power gain.
            const double other = row.crossPhase ? 1.0 : power;
            EXPECT_NEAR(s[1][k], 1.25 * other, 1e-5 * other);
            EXPECT_NEAR(s[5][k], 2.25 * other, 1e-5 * other);
        }
        EXPECT_EQ(heave[4], 1.0f); // below the first corrected bin
    }
}

TEST(SensorModels, TideCorrectionUndoesTheBoxFilter)
{
    for (int type : {GAUGE, GAUGE_1_28}) {
        std::unique_ptr<WaveSensor> sensor(CreateWaveSensor(type));
        const double rate = sensor->GetSampleRate();
        const int a = type == GAUGE ? 13 : 6;
        std::vector<float> s(128, 2.0f);
        sensor->CorrectTide(0, 128, s.data());
        EXPECT_EQ(s[0], 2.0f); // no frequency, nothing to undo
        for (int k = 1; k < 128; ++k) {
            const double left = 1.0 - std::pow(Box(0.005 * k, rate, a), 4);
            EXPECT_NEAR(s[k], 2.0 / (left * left), 1e-4 * s[k]) << type << " bin " << k;
        }
    }
}

TEST(SensorModels, TideRemovalTakesTrendAndLeavesWaves)
{
    Record r(GAUGE);
    // 1 m of tide over 20 minutes under a 160 mHz wave of amplitude 50.
    std::vector<float> x = Series(3072, 2.56, [](double t) { return 300.0 + t / 12.0 + 50.0 * std::cos(2.0 * M_PI * 0.16 * t); });
    const std::vector<float> input = x;
    r.sensor->RemoveTide(x.data(), r.tide.data());

    // The tide by definition: weights w[m] = the ways of writing m as a sum
    // of four integers in -13 .. 13, a window present where it holds 90 % of
    // the full weight 27^4.
    std::vector<double> w(105, 0.0);
    for (int i = -13; i <= 13; ++i)
        for (int j = -13; j <= 13; ++j)
            for (int k = -13; k <= 13; ++k)
                for (int l = -13; l <= 13; ++l)
                    w[i + j + k + l + 52] += 1.0;
    for (int i = 0; i < 3072; ++i) {
        double sw = 0.0, sx = 0.0;
        for (int m = -52; m <= 52; ++m) {
            if (i + m >= 0 && i + m < 3072) {
                sw += w[m + 52];
                sx += w[m + 52] * input[i + m];
            }
        }
        if (sw >= 0.9 * std::pow(27.0, 4)) {
            ASSERT_NEAR(r.tide[i], sx / sw, 1e-4) << i;
        }
    }

    const double kept = 1.0 - std::pow(Box(0.16, 2.56, 13), 4);
    for (int i = 0; i < 3072; ++i) {
        const double wave = kept * 50.0 * std::cos(2.0 * M_PI * 0.16 * i / 2.56);
        // Within 4 x 13 samples of an end the filter window is cut short and
        // its estimate takes in a little of the wave.
        const bool whole = i >= 52 && i < 3072 - 52;
        ASSERT_NEAR(x[i], wave, whole ? 1e-3 : 1.0) << i;
    }
}

TEST(SensorModels, TideGapsUnder150SecondsAreBridged)
{
    const struct {
        int gap;        // samples
        bool bridged;
    } rows[] = {{256, true}, {512, false}}; // 100 s and 200 s
    for (const auto& row : rows) {
        Record r(GAUGE);
        std::vector<float> x = Series(3072, 2.56, Wave(300.0, 20.0, 0.1));
        const int start = 1200;
        std::fill_n(&x[start], row.gap, MISSING_VALUE);
        r.sensor->RemoveTide(x.data(), r.tide.data());
        const int present = static_cast<int>(std::count_if(x.begin(), x.end(), IsPresent));
        if (row.bridged) {
            EXPECT_EQ(present, 3072 - row.gap);
        } else {
            // A window half in the gap has too little weight; one beyond its
            // reach (4 x 13 samples) has all of it.
            EXPECT_EQ(r.tide[start - 1], MISSING_VALUE);
            EXPECT_FALSE(IsPresent(x[start - 1]));
            EXPECT_TRUE(IsPresent(x[start - 53]));
            EXPECT_TRUE(IsPresent(x[start + row.gap + 52]));
            EXPECT_LT(present, 3072 - row.gap);
        }
    }
}
