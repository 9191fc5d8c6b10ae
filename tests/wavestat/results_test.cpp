// What the natives append for each result code, and the maximum-entropy
// directional spectrum: hand-made records in, values out.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <vector>

#include "swaprecord.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

constexpr float M = MISSING_VALUE;
constexpr int CELLS = DMEM_ROWS * DMEM_COLUMNS;

// Records whose every scalar field holds its own code and whose arrays hold
// code + element / 1000, so each appended value names where it came from.
struct Records {
    SWAPtag_HLEV1 h1;
    SWAPtag_HLEV2 h2;
    SWAPtag_HDLEV1 d1;
    SWAPtag_HDLEV2 d2;

    Records()
    {
        std::memset(this, 0, sizeof *this);
        auto array = [](float* a, int n, int code) {
            for (int i = 0; i < n; ++i)
                a[i] = static_cast<float>(code) + static_cast<float>(i) / 1000.0f;
        };
        array(h1.s1000, 101, 1000);
        array(h1.s2000, 600, 2000);
        array(h1.s2001, 600, 2001);
        h1.p2002 = 3.0f;
        array(h2.s1001, 51, 1001);
        float* p = &h2.p1002;
        for (int code : {1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014, 1015, 1016,
                         1017, 1021, 1018, 1019, 1020})
            *p++ = static_cast<float>(code);
        for (int code = 2003; code <= 2021; ++code)
            *p++ = static_cast<float>(code);
        for (int code : {3000, 3001, 3004, 3003, 3002, 3005})
            *p++ = static_cast<float>(code);
        for (int code = 4000; code <= 4004; ++code)
            array(d1.s4000 + 101 * (code - 4000), 101, code);
        array(d2.s4005, 51, 4005);
        array(d2.s4006, 51, 4006);
        for (int code = 5000; code <= 5006; ++code)
            array(d2.s5000 + 15 * (code - 5000), 15, code);
        d2.p4007 = 4007;
        d2.p4008 = 4008;
    }

    std::vector<float> Store(std::vector<int32_t> params, int maxWaves, bool directional, int length = 8000)
    {
        std::vector<float> out(length + 16, -7.0f);
        ResultWriter w(out.data(), length);
        if (directional)
            StoreResult(w, params.data(), static_cast<int>(params.size()), maxWaves, h1, h2, d1, d2, 499.5f);
        else
            StoreResult(w, params.data(), static_cast<int>(params.size()), maxWaves, h1, h2, 499.5f);
        out.resize(w.GetPosition() > length ? length + 16 : w.GetPosition());
        return out;
    }
};

} // namespace

TEST(StoreResult, EachCodeAppendsItsField)
{
    Records r;
    // Result code, the value it must give (a record field's code, or its
    // element as code + element / 1000).
    const struct {
        int code;
        float value;
    } cases[] = {
        {8, 3},      {102, 1003}, {103, 1002}, {104, 1004}, {107, 1007}, {111, 1011}, {112, 1015}, {113, 1016},
        {114, 1017}, {115, 1021}, {116, 1018}, {117, 1019}, {118, 1020}, {119, 2003}, {128, 2012}, {137, 2021},
        {138, 3000}, {139, 3001}, {140, 3004}, {141, 3003}, {142, 3002}, {143, 3005}, {150, 499.5f},
        {157, 1000.0f / 1016.0f}, {175, 1013}, {176, 1014},
    };
    for (const auto& c : cases)
        EXPECT_EQ(r.Store({c.code}, 5, false), std::vector<float>{c.value}) << c.code;
    const struct {
        int code;
        float value;
    } directional[] = {
        {163, 4007},   {164, 4008},   {167, 5002.011f}, {168, 5003.011f}, {169, 5002.012f},
        {170, 5003.012f}, {171, 5002.013f}, {172, 5003.013f}, {173, 5002.014f}, {174, 5003.014f},
    };
    for (const auto& c : directional)
        EXPECT_EQ(r.Store({c.code}, 5, true), std::vector<float>{c.value}) << c.code;
    const struct {
        int code, first, count;
    } arrays[] = {{5, 1000, 101}, {101, 1001, 51}, {9, 4000, 101}, {12, 4003, 101}, {165, 4005, 51}, {166, 4006, 51}};
    for (const auto& a : arrays) {
        const std::vector<float> v = r.Store({a.code}, 5, true);
        ASSERT_EQ(v.size(), static_cast<size_t>(a.count)) << a.code;
        EXPECT_EQ(v.back(), static_cast<float>(a.first) + (a.count - 1) / 1000.0f) << a.code;
    }
}

TEST(StoreResult, WaveListsTakeMaxWavesSlotsOrNoneWithoutACount)
{
    Records r;
    const struct {
        float count;
        std::vector<float> expect;
    } cases[] = {
        {3.0f, {3, 2000, 2000.001f, 2000.002f, 0, 0}},
        {7.0f, {7, 0, 0, 0, 0, 0}},
        {5.0f, {5, 2000, 2000.001f, 2000.002f, 2000.003f, 2000.004f}},
        {M, {M}},
    };
    for (const auto& c : cases) {
        r.h1.p2002 = c.count;
        EXPECT_EQ(r.Store({8, 6}, 5, false), c.expect) << c.count;
    }
    // Without a wave count the next code follows the count at once.
    r.h1.p2002 = M;
    EXPECT_EQ(r.Store({8, 6, 102}, 5, false), (std::vector<float>{M, 1003}));
    EXPECT_EQ(r.Store({7, 150}, 4, false), std::vector<float>{499.5f});
    EXPECT_EQ(r.Store({6}, -3, false).size(), 0u);
}

TEST(StoreResult, NothingIsWrittenPastTheResultArray)
{
    Records r;
    const std::vector<float> v = r.Store({8, 6, 13, 5}, 5, true, 3);
    ASSERT_EQ(v.size(), 3u + 16u);
    EXPECT_EQ(std::vector<float>(v.begin(), v.begin() + 3), (std::vector<float>{3, 2000, 2000.001f}));
    for (size_t i = 3; i < v.size(); ++i)
        EXPECT_EQ(v[i], -7.0f) << i;
}

TEST(StoreResult, UnknownCodesTakeOneMissingSlotAndNameThemselvesAbove100)
{
    Records r;
    const struct {
        std::vector<int32_t> params;
        bool directional;
        size_t values;
        float last;
        const char* printed;
    } cases[] = {
        {{99}, false, 1, M, ""},
        {{144}, false, 1, M, "SWAP ERROR: Unknown type 144\n"},
        {{9, 13, 163, 174, 150}, false, 5, 499.5f, "SWAP ERROR: Unknown type 163\nSWAP ERROR: Unknown type 174\n"},
        {{9, 13, 150}, true, 101 + CELLS + 1, 499.5f, ""},
        {{0, -5, 1012, 177}, true, 4, M, "SWAP ERROR: Unknown type 1012\nSWAP ERROR: Unknown type 177\n"},
    };
    for (const auto& c : cases) {
        CaptureStdout();
        const std::vector<float> v = r.Store(c.params, 5, c.directional);
        EXPECT_EQ(GetCapturedStdout(), c.printed);
        ASSERT_EQ(v.size(), c.values);
        EXPECT_EQ(v.back(), c.last);
    }
}

namespace {

// Coefficients of the same directional distribution in every bin, and a
// spectrum that differs per bin.
struct MemInput {
    SWAPtag_HLEV1 h1{};
    SWAPtag_HDLEV1 d1{};
    SWAPtag_HDLEV2 d2{};

    MemInput(float a1, float b1, float a2, float b2)
    {
        for (int i = 0; i < 101; ++i) {
            h1.s1000[i] = 1.0f + static_cast<float>(i);
            d1.s4000[i] = a1;
            d1.s4001[i] = b1;
            d1.s4002[i] = a2;
            d1.s4003[i] = b2;
        }
    }
    std::vector<float> Run()
    {
        std::vector<float> out(CELLS + 10, -7.0f);
        ResultWriter w(out.data(), static_cast<int>(out.size()));
        w.Advance(5);
        calculateDmem_51x91(h1, d1, d2, w);
        EXPECT_EQ(w.GetPosition(), 5 + CELLS);
        return std::vector<float>(out.begin() + 5, out.begin() + 5 + CELLS);
    }
};

const float A1 = 0.3f, B1 = 0.4f, A2 = 0.1f, B2 = -0.2f;

} // namespace

TEST(MaximumEntropy, SpreadingReproducesItsInputMoments)
{
    const std::vector<float> d = MemInput(A1, B1, A2, B2).Run();
    for (int r = 0; r < DMEM_ROWS; ++r) {
        const float* row = &d[r * DMEM_COLUMNS];
        std::complex<double> m1 = 0, m2 = 0;
        double sum = 0.0;
        for (int n = 0; n < 90; ++n) {
            const double theta = 4.0 * n * M_PI / 180.0;
            m1 += static_cast<double>(row[n]) * std::polar(1.0, theta);
            m2 += static_cast<double>(row[n]) * std::polar(1.0, 2.0 * theta);
            sum += row[n];
        }
        EXPECT_NEAR(m1.real() / sum, -B1, 1e-4) << r;
        EXPECT_NEAR(m1.imag() / sum, -A1, 1e-4) << r;
        EXPECT_NEAR(m2.real() / sum, -A2, 1e-4) << r;
        EXPECT_NEAR(m2.imag() / sum, B2, 1e-4) << r;
        EXPECT_EQ(row[90], row[0]) << r;
    }
}

TEST(MaximumEntropy, RowsAreWeightedMeansOfThreeBinsWithoutTheMissingOnes)
{
    MemInput in(A1, B1, A2, B2);
    in.d1.s4000[10] = 1.0f; // |c1| = 1: no distribution in bin 10
    in.d1.s4001[10] = 0.0f;
    in.h1.s1000[20] = M;    // no spectrum in bin 20 ...
    in.h1.s1000[31] = M;    // ... nor in bin 31
    in.d1.s4002[40] = M;    // no second coefficient in bin 40
    const std::vector<float> d = in.Run();
    auto S = [](int bin) { return 1.0 + bin; };
    // Row -> the spectrum its 89 directions from 4 degrees on must integrate to.
    const struct {
        int row;
        double spectrum;
    } rows[] = {
        {0, (0.5 * S(0) + 0.25 * S(1)) / 0.75},
        {3, 0.25 * S(5) + 0.5 * S(6) + 0.25 * S(7)},
        {5, (S(9) + S(11)) / 2.0},
        {10, (S(19) + S(21)) / 2.0},
        {15, (0.25 * S(29) + 0.5 * S(30)) / 0.75},
        {16, (0.5 * S(32) + 0.25 * S(33)) / 0.75},
        {20, (S(39) + S(41)) / 2.0},
        {50, (0.25 * S(99) + 0.5 * S(100)) / 0.75},
    };
    for (const auto& r : rows) {
        double integral = 0.0;
        for (int n = 1; n < 90; ++n)
            integral += d[r.row * DMEM_COLUMNS + n] * 0.06981317;
        EXPECT_NEAR(integral, r.spectrum, 1e-5 * r.spectrum) << r.row;
    }
}

TEST(MaximumEntropy, ABinWithoutCoefficientsEverywhereIsMissingEverywhere)
{
    const std::vector<float> d = MemInput(M, B1, A2, B2).Run();
    for (float v : d)
        ASSERT_EQ(v, M);
}
