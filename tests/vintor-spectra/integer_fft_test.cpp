// Fixed-point FFT kernel: tables, worked vectors, window, helpers, and accuracy
// against a double-precision DFT.
#include "integer_fft.h"
#include "reference_spectrum.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

namespace {

const long double kPi = 3.141592653589793238462643383279502884L;

TEST(FixedFftTables, SineAndLevelTablesHoldTruncatedValues)
{
    FixedFft f;
    f.setN_WAVE(1024);
    const struct { int k; int v; } sine[] = {
        {0, 0}, {1, 201}, {2, 402}, {3, 603}, {4, 804}, {256, 32767}, {512, 0}, {768, -32767}, {1023, -201},
    };
    for (auto c : sine)
        EXPECT_EQ(f.SinewaveFn(c.k), c.v) << "k=" << c.k;

    // Every entry of the table, against an independent long-double sine.
    for (int k = 0; k < SINEWAVE_SIZE; ++k) {
        long double v = 32767.0L * std::sin(2.0L * kPi * k / SINEWAVE_SIZE);
        ASSERT_EQ(FixedFft::Sinewave[k], static_cast<fixed>(std::trunc(v))) << "k=" << k;
    }

    const fixed loud[] = {32767, 29203, 26027, 23197, 20674, 18426};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(FixedFft::Loudampl[i], loud[i]);
    for (int i = 0; i < 100; ++i) {
        long double v = 32767.0L * std::pow(10.0L, -i / 20.0L);
        EXPECT_EQ(FixedFft::Loudampl[i], static_cast<fixed>(std::trunc(v))) << "i=" << i;
    }
    for (int i = 91; i < 100; ++i)
        EXPECT_EQ(FixedFft::Loudampl[i], 0);
    EXPECT_EQ(f.N_LOUD, 100);
}

TEST(FixedFftTables, SizeSelectionFallsBackTo256)
{
    const struct { int in, n, log2; } cases[] = {
        {300, 256, 8}, {256, 256, 8}, {0, 256, 8}, {-512, 256, 8}, {4096, 256, 8},
        {512, 512, 9}, {1024, 1024, 10}, {2048, 2048, 11},
    };
    FixedFft f;
    for (auto c : cases) {
        EXPECT_EQ(f.setN_WAVE(c.in), 0);
        EXPECT_EQ(f.N_WAVE, c.n) << c.in;
        EXPECT_EQ(f.LOG2_N_WAVE, c.log2) << c.in;
        // One period spans N_WAVE steps whatever the size.
        EXPECT_EQ(f.SinewaveFn(c.n / 4), 32767) << c.in;
        EXPECT_EQ(f.SinewaveFn(3 * c.n / 4), -32767) << c.in;
        EXPECT_EQ(f.SinewaveFn(1), static_cast<int>(std::trunc(32767.0L * std::sin(2.0L * kPi / c.n)))) << c.in;
    }
}

TEST(FixedFftKernel, WorkedVectorsOfEightPoints)
{
    FixedFft f;
    f.setN_WAVE(256);
    struct Case {
        const char* what;
        int inverse;
        std::vector<fixed> inR, outR, outI;
        int result;
    } cases[] = {
        {"forward impulse", 0, {1000, 0, 0, 0, 0, 0, 0, 0}, std::vector<fixed>(8, 125), std::vector<fixed>(8, 0), 0},
        {"forward constant", 0, std::vector<fixed>(8, 8192), {8189, 0, 0, 1, 1, 0, 0, -1}, {0, -2, 0, -1, 0, 0, 0, 1}, 0},
        {"inverse small impulse", 1, {1000, 0, 0, 0, 0, 0, 0, 0}, std::vector<fixed>(8, 1000), std::vector<fixed>(8, 0), 0},
        {"inverse large impulse", 1, {20000, 0, 0, 0, 0, 0, 0, 0}, std::vector<fixed>(8, 10000), std::vector<fixed>(8, 0), 1},
    };
    for (auto& c : cases) {
        std::vector<fixed> fr = c.inR, fi(8, 0);
        EXPECT_EQ(f.fix_fft(fr.data(), fi.data(), 3, c.inverse), c.result) << c.what;
        EXPECT_EQ(fr, c.outR) << c.what;
        EXPECT_EQ(fi, c.outI) << c.what;
    }

    // Too large for the selected size, and a single point: both leave the data alone.
    std::vector<fixed> fr(512), fi(512);
    for (int i = 0; i < 512; ++i) {
        fr[i] = i * 7 - 300;
        fi[i] = 11 - i;
    }
    const auto r0 = fr, i0 = fi;
    EXPECT_EQ(f.fix_fft(fr.data(), fi.data(), 9, 1), -1);
    EXPECT_EQ(f.fix_fft(fr.data(), fi.data(), -1, 1), -1);
    EXPECT_EQ(f.fix_fft(fr.data(), fi.data(), 0, 1), 0);
    EXPECT_EQ(fr, r0);
    EXPECT_EQ(fi, i0);
}

TEST(FixedFftKernel, ShiftDecisionCountsTheMostNegativeWord)
{
    // A low word of 0x80000000 is beyond half scale: the first pass halves.
    FixedFft f;
    f.setN_WAVE(256);
    std::vector<fixed> fr(2, 0), fi(2, 0);
    fr[0] = INT32_MIN;
    EXPECT_EQ(f.fix_fft(fr.data(), fi.data(), 1, 1), 1);
    EXPECT_EQ(fr[0], -(1 << 30));
    // Just inside half scale: no halving.
    fr = {16383, -16383};
    fi = {-16383, 0};
    EXPECT_EQ(f.fix_fft(fr.data(), fi.data(), 1, 1), 0);
}

TEST(FixedFftHelpers, FixMpyFloorsTheQ15Product)
{
    const struct { fixed a, b, r; } cases[] = {
        {1000, 32767, 999}, {-1000, 32767, -1000}, {-1, 1, -1}, {32768, 32768, 32768}, {0, -5, 0},
        // The product wraps modulo 2^64 instead of trapping.
        {INT64_MAX, 2, -1},
    };
    for (auto c : cases)
        EXPECT_EQ(FixedFft::fix_mpy(c.a, c.b), c.r) << c.a << "*" << c.b;
}

// Weight of each sample, read through samples of 32768 (fix_mpy(32768, w) == w).
std::vector<fixed> windowWeights(FixedFft& f, int n)
{
    std::vector<fixed> fr(n, 32768);
    f.window(fr.data(), n);
    return fr;
}

TEST(FixedFftWindow, HannWeightsAreSymmetricQ15)
{
    FixedFft f;
    f.setN_WAVE(512);
    auto w = windowWeights(f, 512);
    EXPECT_EQ(w[0], 1);
    EXPECT_EQ(w[1], 2);
    EXPECT_EQ(w[2], 6);
    EXPECT_EQ(w[3], 12);
    EXPECT_EQ(w[255], 32766);
    EXPECT_EQ(w[256], 32766);
    EXPECT_EQ(w[511], 1);
    for (int i = 0; i < 256; ++i) {
        long double c = std::trunc(32767.0L * std::cos(2.0L * kPi * i / 512));
        fixed expected = 16384 - (static_cast<fixed>(std::floor(c / 2)));
        ASSERT_EQ(w[i], expected) << i;
        ASSERT_EQ(w[511 - i], w[i]) << i;
    }

    const struct { int n; fixed peak; } peaks[] = {{256, 32763}, {1024, 32767}, {2048, 32767}};
    for (auto p : peaks) {
        f.setN_WAVE(p.n);
        auto wp = windowWeights(f, p.n);
        EXPECT_EQ(wp[p.n / 2 - 1], p.peak) << p.n;
        EXPECT_EQ(wp[p.n / 2], p.peak) << p.n;
        EXPECT_EQ(wp[0], 1) << p.n;
    }
}

TEST(FixedFftWindow, ShortLongOddAndEmptySweeps)
{
    FixedFft f;
    f.setN_WAVE(256);
    // Shorter than N_WAVE: the same shape over fewer samples (stride 2 for 128).
    auto w = windowWeights(f, 128);
    for (int i = 0; i < 64; ++i) {
        long double c = std::trunc(32767.0L * std::cos(2.0L * kPi * i / 128));
        ASSERT_EQ(w[i], 16384 - static_cast<fixed>(std::floor(c / 2))) << i;
    }
    // Longer than N_WAVE: every sample weighted 1, i.e. floored by 2^15; odd n keeps the last sample.
    std::vector<fixed> fr(301, 65535);
    fr[0] = 32768;
    fr[1] = -1;
    fr[2] = -32769;
    fr[300] = 100;
    f.window(fr.data(), 301);
    EXPECT_EQ(fr[0], 1);
    EXPECT_EQ(fr[1], -1);
    EXPECT_EQ(fr[2], -2);
    EXPECT_EQ(fr[299], 1);
    EXPECT_EQ(fr[300], 100);
    // Nothing to weight: no division by zero, no change.
    fr = {5, 6};
    f.window(fr.data(), 0);
    f.window(fr.data(), -3);
    EXPECT_EQ(fr, (std::vector<fixed>{5, 6}));
}

TEST(FixedFftHelpers, LevelsDotAndScale)
{
    FixedFft f;
    const struct { fixed re, im; int db; } levels[] = {
        {32767, 0, 0}, {16384, 0, -6}, {1000, 0, -30}, {1, 0, -85}, {0, 0, -90}, {0, 1000, -30},
    };
    for (auto c : levels)
        EXPECT_EQ(f.db_from_ampl(c.re, c.im), c.db) << c.re << "," << c.im;

    fixed fr[] = {32767, 1000, 0}, fi[] = {0, 0, 0}, loud[3];
    f.fix_loud(loud, fr, fi, 3, 0); // +6 dB, limited to 0
    EXPECT_EQ(loud[0], 0);
    EXPECT_EQ(loud[1], -24);
    EXPECT_EQ(loud[2], -84);
    f.fix_loud(loud, fr, fi, 3, 1); // +12 dB, limited to 10
    EXPECT_EQ(loud[0], 10);
    EXPECT_EQ(loud[1], -18);

    std::vector<fixed> a(100, 32767), b(100, 1000);
    EXPECT_EQ(FixedFft::fix_dot(a.data(), b.data(), 100), 32767);
    for (auto& v : b)
        v = -1000;
    EXPECT_EQ(FixedFft::fix_dot(a.data(), b.data(), 100), -32767);
    EXPECT_EQ(FixedFft::fix_dot(a.data(), b.data(), 3), -3000);
    EXPECT_EQ(FixedFft::fix_dot(a.data(), b.data(), 0), 0);
    EXPECT_EQ(FixedFft::fix_dot(a.data(), b.data(), -4), 0);

    EXPECT_EQ(FixedFft::iscale(1000, 3, 7), 428);
    EXPECT_EQ(FixedFft::iscale(-1000, 3, 7), -428);
    EXPECT_EQ(FixedFft::iscale(65536, 65536, 3), 0); // the product wraps to 0
    EXPECT_EQ(FixedFft::iscale(5, 5, 0), 0);
    EXPECT_EQ(FixedFft::iscale(INT_MIN, 1, -1), INT_MIN);

    fixed re[] = {3, 0, 0}, im[] = {0, 4, 0};
    EXPECT_EQ(FixedFft::fftPower(re, im, 3), 1);   // |3+4i| / 3 = 1.67
    EXPECT_EQ(FixedFft::fftEnergy(re, im, 3), 25); // 9 + 16
    EXPECT_EQ(FixedFft::fftPower(re, im, 0), 0);
    EXPECT_EQ(FixedFft::fftEnergy(re, im, -1), 0);

    std::vector<fixed> dc(256, 7);
    dc[0] = 263; // mean 8
    f.setN_WAVE(256);
    f.remove_dc(dc.data());
    EXPECT_EQ(dc[0], 255);
    EXPECT_EQ(dc[1], -1);
}

TEST(FixedFftAccuracy, WindowedToneMatchesDoubleDft)
{
    const struct { int n; double amplitude, peakTolerance; } cases[] = {
        {256, 20000, 5e-3}, {512, 20000, 5e-3}, {1024, 20000, 5e-3}, {2048, 20000, 5e-3},
        {512, 1000, 1e-2}, {1024, 30, 0.15},
    };
    for (auto c : cases) {
        const double bin = c.n / 16.0 + 0.3;
        std::vector<double> x(c.n);
        std::vector<fixed> fr(c.n), fi(c.n, 0);
        for (int i = 0; i < c.n; ++i) {
            x[i] = std::round(c.amplitude * std::sin(2.0 * M_PI * bin * i / c.n) + 200.0);
            fr[i] = static_cast<fixed>(x[i]);
        }
        FixedFft f;
        f.setN_WAVE(c.n);
        f.window(fr.data(), c.n);
        int m = 0;
        while ((1 << m) < c.n)
            ++m;
        const int scale = f.fix_fft(fr.data(), fi.data(), m, 1);
        ASSERT_GE(scale, 0) << c.n;
        for (int i = 0; i < c.n; ++i)
            x[i] *= spectra_test::mirroredHann(i, c.n);
        const auto ref = spectra_test::dftPower(x);
        int peak = 0;
        double peakValue = -1;
        double worstFloor = 0;
        for (int k = 0; k < c.n / 2; ++k) {
            const double p = (static_cast<double>(fr[k]) * fr[k] + static_cast<double>(fi[k]) * fi[k]) *
                std::ldexp(1.0, 2 * scale) / (static_cast<double>(c.n) * c.n);
            if (k < 4) // the DC offset's own leakage
                continue;
            if (p > peakValue) {
                peak = k;
                peakValue = p;
            }
            // Error floor: away from the tone and from the bias the halving passes leave near DC.
            if (k >= c.n / 8 && std::abs(k - static_cast<int>(bin)) > 8)
                worstFloor = std::max(worstFloor, std::abs(p - ref[k]));
            if (k == static_cast<int>(bin)) {
                EXPECT_NEAR(p / ref[k], 1.0, c.peakTolerance) << "n=" << c.n << " a=" << c.amplitude;
            }
        }
        EXPECT_EQ(peak, static_cast<int>(bin)) << c.n;
        EXPECT_LT(worstFloor, 2.0) << "n=" << c.n << " a=" << c.amplitude;
    }
}

TEST(FixedFftAccuracy, LargerTableLeavesSmallerTransformsUnchanged)
{
    // 512 points windowed and transformed under every table size that admits them give the same bits.
    std::vector<fixed> base(512);
    for (int i = 0; i < 512; ++i)
        base[i] = static_cast<fixed>(std::lround(9000 * std::sin(0.37 * i) + 3000 * std::cos(1.9 * i)));
    std::vector<std::vector<fixed>> results;
    for (int nWave : {512, 1024, 2048}) {
        FixedFft f;
        f.setN_WAVE(nWave);
        std::vector<fixed> fr = base, fi(512, 0);
        f.window(fr.data(), 512);
        EXPECT_GE(f.fix_fft(fr.data(), fi.data(), 9, 1), 0);
        fr.insert(fr.end(), fi.begin(), fi.end());
        results.push_back(fr);
    }
    EXPECT_EQ(results[1], results[0]);
    EXPECT_EQ(results[2], results[0]);
}

} // namespace

namespace {

// The transform written out step by step, straight from its definition, on 64-bit
// values: the fast kernel must give the same bits for every input.
int referenceFixFft(std::vector<fixed>& fr, std::vector<fixed>& fi, int m, int inverse, int nWave, int log2NWave,
    int64_t* largestWritten = nullptr)
{
    const int n = 1 << m;
    auto sine = [&](int k) { return FixedFft::Sinewave[k * (SINEWAVE_SIZE / nWave)]; };
    auto mpy = [](fixed a, fixed b) { return static_cast<fixed>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b)) >> 15; };
    int mr = 0;
    for (int mm = 1; mm < n; ++mm) {
        int l = n;
        do
            l >>= 1;
        while (mr + l > n - 1);
        mr = (mr & (l - 1)) + l;
        if (mr > mm) {
            std::swap(fr[mm], fr[mr]);
            std::swap(fi[mm], fi[mr]);
        }
    }
    int scale = 0;
    for (int l = 1, k = log2NWave - 1; l < n; l *= 2, --k) {
        bool shift = true;
        if (inverse) {
            shift = false;
            for (int i = 0; i < n && !shift; ++i) {
                const int64_t a = static_cast<int32_t>(fr[i]), b = static_cast<int32_t>(fi[i]);
                shift = std::llabs(a) > 16383 || std::llabs(b) > 16383;
            }
            scale += shift;
        }
        for (int mm = 0; mm < l; ++mm) {
            fixed wr = sine((mm << k) + nWave / 4), wi = -sine(mm << k);
            if (inverse)
                wi = -wi;
            if (shift) {
                wr >>= 1;
                wi >>= 1;
            }
            for (int i = mm; i < n; i += 2 * l) {
                const int j = i + l;
                const fixed tr = mpy(wr, fr[j]) - mpy(wi, fi[j]);
                const fixed ti = mpy(wr, fi[j]) + mpy(wi, fr[j]);
                const fixed qr = shift ? fr[i] >> 1 : fr[i], qi = shift ? fi[i] >> 1 : fi[i];
                fr[j] = qr - tr;
                fi[j] = qi - ti;
                fr[i] = qr + tr;
                fi[i] = qi + ti;
                if (largestWritten)
                    for (fixed v : {fr[i], fi[i], fr[j], fi[j]})
                        *largestWritten = std::max<int64_t>(*largestWritten, std::llabs(v));
            }
        }
    }
    return scale;
}

TEST(FixedFftKernel, FastPassesGiveTheBitsOfTheDefinition)
{
    // Input ranges: 16-bit sweeps (fast path throughout), values that leave the
    // 32-bit range mid-way, and 32-bit samples (64-bit path from the start).
    const struct { int m; int inverse; int64_t amplitude; bool complexInput; } cases[] = {
        {1, 1, 30000, false}, {2, 1, 30000, true}, {3, 0, 32767, true}, {8, 1, 20, false}, {8, 1, 32768, false},
        {9, 1, 16000, false}, {9, 0, 32767, false}, {10, 1, 32767, false}, {10, 1, 65535, true}, {10, 1, 400, true},
        {11, 1, 32767, false}, {11, 0, 30000, true}, {10, 1, 2147483647LL, false}, {9, 0, 2147483647LL, true},
        {6, 1, 60000, true},
    };
    uint64_t lcg = 99;
    auto next = [&](int64_t amplitude) {
        lcg = lcg * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<int64_t>((lcg >> 11) % static_cast<uint64_t>(2 * amplitude + 1)) - amplitude;
    };
    for (auto lanes : {FixedFft::Lanes::Widest, FixedFft::Lanes::Plain})
    for (auto c : cases) {
        for (int round = 0; round < 4; ++round) {
            const int n = 1 << c.m;
            std::vector<fixed> fr(n), fi(n, 0);
            for (int i = 0; i < n; ++i) {
                // A tone plus noise; round 3 is a full-scale impulse train, the growth worst case.
                fr[i] = round == 3 ? (i % 4 == 0 ? c.amplitude : 0) : next(c.amplitude);
                if (c.complexInput)
                    fi[i] = next(c.amplitude);
            }
            auto rr = fr, ri = fi;
            FixedFft f(lanes);
            f.setN_WAVE(n < 256 ? 256 : n);
            const int nWave = f.N_WAVE, log2NWave = f.LOG2_N_WAVE;
            const int scale = f.fix_fft(fr.data(), fi.data(), c.m, c.inverse);
            const int refScale = referenceFixFft(rr, ri, c.m, c.inverse, nWave, log2NWave);
            ASSERT_EQ(scale, refScale) << "m=" << c.m << " a=" << c.amplitude;
            ASSERT_EQ(fr, rr) << "m=" << c.m << " a=" << c.amplitude << " round " << round;
            ASSERT_EQ(fi, ri) << "m=" << c.m << " a=" << c.amplitude << " round " << round;
        }
    }

    // Starts inside +-65535 and grows past it in the third pass: the kernel must
    // leave the 32-bit passes there and still give the same bits.
    std::vector<fixed> fr = {65535, -65535, 65535, 0, -65535, 65535, 65535, 0};
    std::vector<fixed> fi = {65535, 65535, -65535, 65535, -65535, -65535, 65535, -65535};
    auto rr = fr, ri = fi;
    int64_t largest = 0;
    FixedFft f;
    EXPECT_EQ(f.fix_fft(fr.data(), fi.data(), 3, 1), referenceFixFft(rr, ri, 3, 1, 256, 8, &largest));
    EXPECT_GT(largest, 65535);
    EXPECT_EQ(fr, rr);
    EXPECT_EQ(fi, ri);
}

TEST(FixedFftKernel, SixteenBitRoadGivesTheBitsOfWindowThenTransform)
{
    // transform16 starts from the words themselves in 32-bit lanes: the same
    // scale, values, energy and power row as window(), the transform by its
    // definition and the 64-bit powers, in both builds of the kernels.
    const struct { int m, nWave; bool windowed; int inverse; int kind; } cases[] = {
        {3, 256, false, 1, 0}, {3, 256, true, 1, 2}, {6, 256, true, 1, 1}, {8, 256, true, 1, 0}, {8, 256, false, 0, 3},
        {9, 512, true, 1, 1}, {9, 512, false, 1, 2}, {10, 1024, true, 1, 0}, {10, 1024, true, 1, 3},
        {10, 1024, false, 0, 1}, {11, 2048, true, 1, 0}, {11, 2048, false, 1, 2}, {7, 1024, true, 1, 1},
    };
    uint64_t lcg = 5;
    for (auto lanes : {FixedFft::Lanes::Widest, FixedFft::Lanes::Plain}) {
        for (auto c : cases) {
            const int n = 1 << c.m;
            std::vector<int16_t> words(n);
            for (int i = 0; i < n; ++i) {
                lcg = lcg * 6364136223846793005ULL + 1442695040888963407ULL;
                const int16_t noise = static_cast<int16_t>(lcg >> 48);
                // Full-scale noise, a tone on a DC offset, a full-scale impulse train, a square wave.
                const int16_t v[] = {noise, static_cast<int16_t>(std::lround(20000 * std::sin(0.3 * i) + 9000)),
                    static_cast<int16_t>(i % 8 == 0 ? -32768 : 0), static_cast<int16_t>((i / 3) % 2 ? 32767 : -32768)};
                words[i] = v[c.kind];
            }
            FixedFft f(lanes);
            f.setN_WAVE(c.nWave);
            std::vector<fixed> rr(words.begin(), words.end()), ri(n, 0);
            int64_t energy = 0;
            for (int16_t w : words)
                energy += int64_t(w) * w;
            if (c.windowed)
                f.window(rr.data(), n);
            const int refScale = referenceFixFft(rr, ri, c.m, c.inverse, f.N_WAVE, f.LOG2_N_WAVE);

            std::vector<fixed> fr(n, 7), fi(n, 7);
            int64_t sumSquares = -1;
            bool inLanes = false;
            const int scale = f.transform16(words.data(), n, c.windowed, c.inverse, fr.data(), fi.data(), &sumSquares,
                &inLanes);
            ASSERT_EQ(scale, refScale) << "m=" << c.m << " kind " << c.kind;
            ASSERT_EQ(sumSquares, energy);
            // Sums of 16-bit samples stay within the lanes' range, halved or not.
            ASSERT_TRUE(inLanes);
            f.lanesOut(fr.data(), fi.data(), n);
            ASSERT_EQ(fr, rr) << "m=" << c.m << " kind " << c.kind;
            ASSERT_EQ(fi, ri) << "m=" << c.m << " kind " << c.kind;

            const float norm = static_cast<float>(n) * static_cast<float>(n);
            std::vector<float> row(n / 2);
            ASSERT_TRUE(f.powerRow(n / 2, scale, norm, row.data()));
            for (int k = 0; k < n / 2; ++k) {
                const int64_t power = (rr[k] * rr[k] + ri[k] * ri[k]) << (2 * std::max(scale, 0));
                ASSERT_EQ(row[k], static_cast<float>(power) / norm) << "m=" << c.m << " bin " << k;
            }
        }
    }
}

} // namespace
