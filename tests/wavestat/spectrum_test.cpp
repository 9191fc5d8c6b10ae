// Sub-series transforms against a naive double-precision DFT and the
// textbook transforms of sines and constants.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "record.h"

using namespace wavestat_test;

namespace {

// A spectrum of x with all samples received (plus the given flags at `repaired`).
int Transform(Spectrum& s, const std::vector<float>& x, float taper, const std::vector<int>& repaired = {})
{
    const int n = static_cast<int>(x.size());
    std::vector<Complex> table(n);
    FillFFTTable(table.data(), n);
    std::vector<int32_t> flags(n, SAMPLE_RECEIVED);
    for (int i : repaired)
        flags[i] |= SAMPLE_REPAIRED;
    s.Clear();
    return s.CalcSpectrum(x.data(), flags.data(), table.data(), taper);
}

std::complex<double> Bin(const Spectrum& s, int k)
{
    return {s.Get(k).re, s.Get(k).im};
}

} // namespace

TEST(Spectrum, TwiddleTableIsHalfATurn)
{
    for (int n : {128, 256, 512}) {
        std::vector<Complex> t(n);
        FillFFTTable(t.data(), n);
        for (int k = 0; k < n; ++k) {
            EXPECT_NEAR(t[k].re, std::cos(M_PI * k / n), 1e-6) << n << " " << k;
            EXPECT_NEAR(t[k].im, std::sin(M_PI * k / n), 1e-6) << n << " " << k;
        }
    }
    // The station's constant sine table at N = 512.
    std::vector<Complex> t(512);
    FillFFTTable(t.data(), 512);
    EXPECT_EQ(t[79].im, 0.465977f);
    EXPECT_EQ(t[110].im, 0.624860f);
    EXPECT_EQ(t[157].im, 0.821102f);
    EXPECT_EQ(t[128].im, 0.707107f);
}

TEST(Spectrum, EveryBinMatchesADoublePrecisionDft)
{
    for (int n : {512, 256}) {
        const std::vector<float> x = Noise(n, 40.0, n);
        std::vector<float> y = x;
        for (float& v : y)
            v += 300.0f; // a level the transform must remove
        Spectrum s(n);
        ASSERT_EQ(Transform(s, y, TAPER), 0);
        const auto ref = ReferenceBins(y.data(), n, TAPER);
        double largest = 0.0;
        for (int k = 1; k < n; ++k)
            largest = std::max(largest, std::abs(ref[k]));
        for (int k = 1; k < n; ++k)
            EXPECT_LT(std::abs(Bin(s, k) - ref[k]), 1e-4 * largest) << n << " bin " << k;
        EXPECT_EQ(s.Get(0).re, MISSING_VALUE);
        EXPECT_EQ(s.Get(0).im, MISSING_VALUE);
    }
}

TEST(Spectrum, SinesAndConstantsGiveTextbookBins)
{
    const int n = 512;
    // Positive exponent: a sine of k0 cycles gives +1 in the imaginary part
    // of bin k0 (the other sign would turn every direction by 180 degrees).
    const int k0 = 37;
    Spectrum s(n);
    Transform(s, Series(n, 1.0, [&](double i) { return std::sin(2.0 * M_PI * k0 * i / n); }), 0.0f);
    EXPECT_NEAR(s.Get(k0).im, 1.0, 1e-5);
    EXPECT_NEAR(s.Get(n - k0).im, -1.0, 1e-5);

    // A cosine of amplitude 3 at k cycles: |X[k]| = |X[N-k]| = 3, others 0.
    for (int k : {1, 32, 100, 255}) {
        Transform(s, Series(n, 1.0, [&](double i) { return 3.0 * std::cos(2.0 * M_PI * k * i / n + 0.7); }), 0.0f);
        for (int j = 1; j < n; ++j)
            EXPECT_NEAR(std::abs(Bin(s, j)), j == k || j == n - k ? 3.0 : 0.0, 1e-4) << k << " bin " << j;
    }

    Transform(s, std::vector<float>(n, 12.5f), TAPER);
    for (int j = 1; j < n; ++j)
        EXPECT_EQ(std::abs(Bin(s, j)), 0.0) << j;
    EXPECT_EQ(s.Get(0).re, MISSING_VALUE);
}

TEST(Spectrum, UnusableSubSeriesAreRejected)
{
    const std::vector<float> x = Noise(512, 1.0, 3);
    std::vector<int> twelve, thirteen, spread;
    for (int i = 0; i < 13; ++i) {
        thirteen.push_back(200 + 9 * i); // within 109 samples
        spread.push_back(100 + 11 * i);  // 133 samples: never 13 within 128
    }
    twelve.assign(thirteen.begin(), thirteen.end() - 1);
    std::vector<float> gap = x;
    gap[300] = MISSING_VALUE;
    const struct {
        const char* what;
        const std::vector<float>& x;
        const std::vector<int>& repaired;
        bool accepted;
    } rows[] = {
        {"12 repaired within 128", x, twelve, true},
        {"13 repaired within 128", x, thirteen, false},
        {"13 repaired over 133", x, spread, true},
        {"one missing", gap, {}, false},
    };
    Spectrum s(512);
    for (const auto& row : rows) {
        EXPECT_EQ(Transform(s, row.x, TAPER, row.repaired) == 0, row.accepted) << row.what;
        EXPECT_EQ(s.GetValid(), row.accepted ? 1 : 0) << row.what;
    }
}
