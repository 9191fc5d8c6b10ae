// FFT stage on hand-made sweep records: conversion per front-end, the spectrum
// values, the header copy, and records that are out of bounds or empty.
#include "configfile.h"
#include "fft.h"
#include "misc.h"
#include "reference_spectrum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using spectra_test::dftPower;
using spectra_test::mirroredHann;

struct Fixture {
    ConfigFile cf{0, 0}; // offline: values are set locally
    std::unique_ptr<FFTClass> fft;
    std::unique_ptr<radar_st> in{new radar_st()};
    std::unique_ptr<fft_st> out{new fft_st()};

    explicit Fixture(int henn = 0)
    {
        cf.setValue("radar0", "henn", henn);
        fft.reset(new FFTClass(&cf));
        header(*in, "radar0");
    }
    static void header(radar_st& r, const char* section)
    {
        std::strcpy(r.time, "1765250000123");
        std::memcpy(r.section, section, std::strlen(section) + 1);
        r.radnr = 7;
        r.nan = 0;
    }
    // Serial radar payload: 16-bit little-endian words, the sweeps one after the other.
    void serial(const std::vector<int16_t>& samples, int sweeps)
    {
        in->brand = ENRAF;
        in->nrOfSweeps = sweeps;
        in->length = static_cast<int>(samples.size() * 2);
        for (size_t i = 0; i < samples.size(); ++i) {
            in->data.com[2 * i] = static_cast<char>(samples[i] & 0xFF);
            in->data.com[2 * i + 1] = static_cast<char>((samples[i] >> 8) & 0xFF);
        }
    }
    void run() { fft->processRecord(*in, *out); }
};

TEST(FftStage, ConstantSweepPutsItsPowerIntoBinZero)
{
    Fixture f;
    f.serial(std::vector<int16_t>(1024, 1000), 2); // 2048 bytes: two sweeps of 512
    f.run();
    EXPECT_EQ(f.out->length, 512);
    EXPECT_EQ(f.out->nrOfSweeps, 2);
    for (int s = 0; s < 2; ++s) {
        EXPECT_EQ(f.out->energy[s], 1000000.0);
        EXPECT_EQ(f.out->data[s][0], 997564.0f);
        float largest = 0;
        for (int i = 1; i < 256; ++i)
            largest = std::max(largest, f.out->data[s][i]);
        EXPECT_LT(largest, 1.0f);
        EXPECT_GT(largest, 0.0f);
    }
    // Header fields come from the sweep record.
    EXPECT_STREQ(f.out->time, "1765250000123");
    EXPECT_STREQ(f.out->section, "radar0");
    EXPECT_EQ(f.out->radnr, 7);
    EXPECT_EQ(f.out->nan, 0);
}

TEST(FftStage, SamplesAreTakenAsEachFrontEndStoresThem)
{
    // Serial radar: sweep 1 starts half-way through the bytes; FF FF is -1.
    {
        Fixture f;
        std::vector<int16_t> s(1024, -1);
        for (int i = 512; i < 1024; ++i)
            s[i] = 3;
        f.serial(s, 2);
        f.run();
        EXPECT_EQ(f.out->length, 512);
        EXPECT_EQ(f.out->energy[0], 1.0);
        EXPECT_EQ(f.out->energy[1], 9.0);
    }
    // Radar board: words 1..length as signed 16-bit; word 0 is not a sample.
    {
        Fixture f;
        f.in->brand = TARNIX;
        f.in->nrOfSweeps = 2;
        f.in->length = 512;
        for (int s = 0; s < 2; ++s) {
            f.in->data.tarnix[s].data[0] = 30000;
            for (int i = 1; i <= 512; ++i)
                f.in->data.tarnix[s].data[i] = s == 0 ? 0xFFFF : 2;
            f.in->data.tarnix[s].data[513] = 30000; // beyond the sweep
        }
        f.in->nan = 1;
        f.in->radnr = 2;
        f.run();
        EXPECT_EQ(f.out->length, 512);
        EXPECT_EQ(f.out->energy[0], 1.0);
        EXPECT_EQ(f.out->energy[1], 4.0);
        EXPECT_EQ(f.out->nan, 1);
        EXPECT_EQ(f.out->radnr, 2);
        // Constant -1 and 2: all power in bin 0, nothing from the words around the sweep.
        for (int i = 1; i < 256; ++i)
            ASSERT_LT(f.out->data[1][i], 1e-3f) << i;
    }
    // Replay: int16 samples of each sweep; not a power of two, so no transform: the squares / n^2.
    {
        Fixture f;
        f.in->brand = READFILE;
        f.in->nrOfSweeps = 2;
        f.in->length = 300;
        for (int i = 0; i < 300; ++i) {
            f.in->data.rf[0].data[i] = static_cast<int16_t>(i * 100 - 15000);
            f.in->data.rf[1].data[i] = static_cast<int16_t>(7);
        }
        f.run();
        EXPECT_EQ(f.out->length, 300);
        for (int i = 0; i < 150; ++i) {
            const double v = i * 100.0 - 15000.0;
            ASSERT_FLOAT_EQ(f.out->data[0][i], static_cast<float>(v * v / 90000.0)) << i;
            ASSERT_FLOAT_EQ(f.out->data[1][i], 49.0f / 90000.0f) << i;
        }
        EXPECT_EQ(f.out->data[0][150], 0.0f);
    }
    // Sivers module: the same 32-bit words for every sweep.
    {
        Fixture f;
        f.in->brand = SIVERSIMA;
        f.in->nrOfSweeps = 2;
        f.in->length = 1024;
        for (int i = 0; i < 1024; ++i)
            f.in->data.siv[i] = -100000;
        f.run();
        EXPECT_EQ(f.out->energy[0], 1e10);
        EXPECT_EQ(f.out->energy[1], 1e10);
        EXPECT_NEAR(f.out->data[0][0], 1e10, 1e10 * 2e-3);
    }
}

TEST(FftStage, WindowWeighsSamplesButNotTheEnergy)
{
    // 256 samples of a tone: spectrum of the Q15-windowed sweep against a
    // double DFT of the same tone under the mirrored Hann weights.
    Fixture f(1);
    const int n = 256;
    std::vector<int16_t> s(2 * n);
    std::vector<double> weighted(n);
    double sumSq = 0;
    for (int i = 0; i < n; ++i) {
        s[i] = s[n + i] = static_cast<int16_t>(std::lround(12000 * std::sin(2 * M_PI * 20.4 * i / n)));
        weighted[i] = s[i] * mirroredHann(i, n);
        sumSq += static_cast<double>(s[i]) * s[i];
    }
    f.serial(s, 2);
    f.run();
    EXPECT_EQ(f.out->energy[0], std::floor(sumSq / n));
    const auto ref = dftPower(weighted);
    for (int k : {19, 20, 21, 22}) {
        EXPECT_NEAR(f.out->data[0][k] / ref[k], 1.0, 5e-3) << k;
    }
    EXPECT_EQ(f.out->data[0][20], f.out->data[1][20]);

    // The end samples are weighted 1/32768: a sweep that is zero except at its ends has no spectrum left.
    std::vector<int16_t> ends(2 * n, 0);
    ends[0] = ends[n - 1] = ends[n] = ends[2 * n - 1] = 32767;
    f.serial(ends, 2);
    f.run();
    EXPECT_EQ(f.out->energy[0], std::floor(2.0 * 32767 * 32767 / n));
    for (int k = 0; k < n / 2; ++k)
        ASSERT_EQ(f.out->data[0][k], 0.0f) << k;
}

TEST(FftStage, SweepsOf2048SamplesAreTransformed)
{
    Fixture f;
    const int n = 2048;
    std::vector<int16_t> s(2 * n);
    for (int i = 0; i < n; ++i)
        s[i] = s[n + i] = static_cast<int16_t>(std::lround(8000 * std::sin(2 * M_PI * 301.0 * i / n)));
    f.serial(s, 2); // 8192 bytes, as the serial radar sends 2048-sample sweeps
    f.run();
    ASSERT_EQ(f.out->length, n);
    int peak = 1;
    for (int k = 1; k < n / 2; ++k)
        if (f.out->data[0][k] > f.out->data[0][peak])
            peak = k;
    EXPECT_EQ(peak, 301);
    // Amplitude 8000 at an exact bin: |X|^2/n^2 = (8000/2)^2.
    EXPECT_NEAR(f.out->data[0][301], 4000.0 * 4000.0, 4000.0 * 4000.0 * 2e-3);
    EXPECT_EQ(f.out->data[0][n / 2], 0.0f);
}

TEST(FftStage, BeatToneOfAKnownDistanceLandsOnItsBin)
{
    // A reflector at d metres gives a beat frequency 2 d S / c (S the sweep
    // speed, c the speed of light in air); sampled every DEF_timePerSample.
    const int n = 512;
    const double d = 7.3;
    const double beat = 2.0 * d * DEF_sweepSpeed / DEF_speedOfLight;
    const double binOfD = d / (util::getFourierDistance(n) / 100.0);
    Fixture f(1);
    std::vector<int16_t> s(2 * n);
    std::vector<double> weighted(n);
    for (int i = 0; i < n; ++i) {
        const double v = std::lround(9000 * std::cos(2 * M_PI * beat * i * DEF_timePerSample) + 700);
        s[i] = s[n + i] = static_cast<int16_t>(v);
        weighted[i] = v * mirroredHann(i, n);
    }
    f.serial(s, 2);
    f.run();
    const int expectedBin = static_cast<int>(std::lround(binOfD));
    int peak = 3;
    for (int k = 3; k < n / 2; ++k)
        if (f.out->data[0][k] > f.out->data[0][peak])
            peak = k;
    EXPECT_EQ(peak, expectedBin);
    // The five-point centroid of the reference spectrum gives the sub-bin offset to expect.
    const auto ref = dftPower(weighted);
    auto centroid = [&](auto& p) {
        const int i = expectedBin;
        return (2 * p[i + 2] + p[i + 1] - p[i - 1] - 2 * p[i - 2]) / (p[i + 2] + p[i + 1] + p[i] + p[i - 1] + p[i - 2]);
    };
    const double expected = centroid(ref);
    EXPECT_NEAR(centroid(f.out->data[0]), expected, 2e-3);
    EXPECT_NEAR(expectedBin + expected, binOfD, 0.35);
}

TEST(FftStage, RowWithoutDebugEqualsTheRowFromThe64BitPowers)
{
    // The row comes straight from the transform; it must give the same floats
    // as the 64-bit powers, as defined, which debug level 4 works out for its
    // lines (those of the last sweep).
    const struct { int n, brand; double amplitude; int henn; } cases[] = {
        {256, ENRAF, 32767, 0}, {512, ENRAF, 20000, 1}, {1024, ENRAF, 300, 1}, {2048, ENRAF, 32767, 1},
        {2048, ENRAF, 32767, 0}, {300, READFILE, 32767, 0}, {8, ENRAF, 5, 0},
    };
    for (auto c : cases) {
        Fixture fast(c.henn), slow(c.henn);
        slow.fft->debug = 4;
        for (Fixture* f : {&fast, &slow}) {
            if (c.brand == ENRAF) {
                std::vector<int16_t> s(2 * c.n);
                for (int i = 0; i < 2 * c.n; ++i)
                    s[i] = static_cast<int16_t>(std::lround(c.amplitude * std::sin(0.7 * i) * std::cos(0.011 * i)));
                f->serial(s, 2);
            } else {
                f->in->brand = c.brand;
                f->in->nrOfSweeps = 2;
                f->in->length = c.n;
                for (int i = 0; i < c.n; ++i)
                    f->in->data.rf[0].data[i] = f->in->data.rf[1].data[i] = static_cast<int16_t>(i * 97 % 65536 - 32768);
            }
        }
        fast.run();
        testing::internal::CaptureStdout();
        slow.run();
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(fast.out->length, c.n);
        ASSERT_EQ(std::memcmp(fast.out->data, slow.out->data, sizeof fast.out->data), 0) << c.n;
        const float norm = static_cast<float>(c.n) * static_cast<float>(c.n);
        for (int i = 0; i < c.n / 2; ++i)
            ASSERT_EQ(fast.out->data[1][i], static_cast<float>(slow.fft->f_pow[i]) / norm) << c.n << " bin " << i;
    }
}

TEST(FftStage, RecordsOutOfBoundsStayInsideTheirRows)
{
    // Counts beyond what a record can hold; run under the address sanitizer.
    const struct {
        const char* what;
        int brand, sweeps, length, expectLength, expectSweeps;
    } cases[] = {
        {"three sweeps", READFILE, 3, 256, 256, 2},
        {"negative sweeps", READFILE, -1, 256, -99, 0},
        {"Sivers 3005 words", SIVERSIMA, 2, 3005, 2148, 2},
        {"serial 65535 bytes", ENRAF, 2, 65535, 0, 2}, // sweep 1 would start beyond the payload
        {"serial huge single sweep", ENRAF, 1, 1 << 30, 2148, 1},
        {"board sweepsize 2000", TARNIX, 2, 2000, 1024, 2},
        {"replay length 1000", READUDP, 2, 1000, 300, 2},
        {"serial 2 bytes in 3 sweeps", ENRAF, 3, 2, 0, 2},
        {"negative length", TARNIX, 2, -5, 0, 2},
    };
    for (auto c : cases) {
        Fixture f;
        f.out->length = -99;
        std::memset(&f.in->data, 0x7F, sizeof f.in->data);
        f.in->brand = c.brand;
        f.in->nrOfSweeps = c.sweeps;
        f.in->length = c.length;
        f.run();
        EXPECT_EQ(f.out->nrOfSweeps, c.expectSweeps) << c.what;
        EXPECT_EQ(f.out->length, c.expectLength) << c.what;
        for (int s = 0; s < c.expectSweeps; ++s) {
            for (int i = MAX_FFT_BUFFER_SIZE / 2; i < MAX_FFT_BUFFER_SIZE; ++i)
                ASSERT_EQ(f.out->data[s][i], 0.0f) << c.what << " row " << s << " bin " << i;
            ASSERT_FALSE(std::isnan(f.out->energy[s])) << c.what;
            ASSERT_GE(f.out->energy[s], 0.0) << c.what;
        }
    }
}

TEST(FftStage, EmptyAndFullScaleRecords)
{
    Fixture f;
    // A failed measurement: stored with its header, the rows left as they were.
    f.serial(std::vector<int16_t>(1024, 50), 2);
    f.run();
    const float before = f.out->data[0][0];
    const double energyBefore = f.out->energy[1];
    f.in->nrOfSweeps = 0;
    f.in->nan = 1;
    std::strcpy(f.in->time, "1765250000999");
    f.run();
    EXPECT_EQ(f.out->nrOfSweeps, 0);
    EXPECT_EQ(f.out->nan, 1);
    EXPECT_STREQ(f.out->time, "1765250000999");
    EXPECT_EQ(f.out->data[0][0], before);
    EXPECT_EQ(f.out->energy[1], energyBefore);
    EXPECT_EQ(f.out->length, 512);

    // A shorter sweep after a longer one: nothing of the longer one shows above its half.
    Fixture g;
    g.serial(std::vector<int16_t>(2048, 9), 2);
    g.run();
    g.serial(std::vector<int16_t>(512, 9), 2);
    g.run();
    EXPECT_EQ(g.out->length, 256);
    for (int i = 128; i < MAX_FFT_BUFFER_SIZE; ++i)
        ASSERT_EQ(g.out->data[0][i], 0.0f) << i;

    // Full-scale 32-bit samples: powers saturate rather than turn negative.
    Fixture h;
    h.in->brand = SIVERSIMA;
    h.in->nrOfSweeps = 1;
    h.in->length = 1024;
    for (int i = 0; i < 1024; ++i)
        h.in->data.siv[i] = i % 2 ? INT32_MIN : INT32_MAX;
    h.run();
    for (int i = 0; i < 512; ++i)
        ASSERT_GE(h.out->data[0][i], 0.0f) << i;
    // Mean of (2^31-1)^2 and 2^62, exactly: 2^62 - 2^31 (the half dropped).
    EXPECT_EQ(h.out->energy[0], std::ldexp(1.0, 62) - std::ldexp(1.0, 31));
}

} // namespace
