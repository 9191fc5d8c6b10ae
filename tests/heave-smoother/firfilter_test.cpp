// The FIR filter from coefficient files and from its designs, and the
// Parks-McClellan design checked for its equiripple property.
#include "firfilter.h"
#include "harness.h"
#include "remez.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

using testsupport::TempDir;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

std::vector<double> run(FirFilter& f, const std::vector<double>& in)
{
    std::vector<double> out;
    for (double x : in)
        out.push_back(f.sample(x));
    return out;
}

TEST(FirFilterFile, ImpulseAndStepResponsesOfAThreeTapFile)
{
    TempDir d;
    for (const char* text : {"0.25\n0.5\n0.25", "0.25\n0.5\n0.25\n"}) {
        writeFile(d.file("fir.txt"), text);
        testing::internal::CaptureStdout();
        FirFilter f(d.file("fir.txt").c_str());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nfile: " + d.file("fir.txt") + "\nFilter has 3 taps.\n");
        EXPECT_EQ(f.getError(), 0);
        EXPECT_EQ(f.tapCount(), 3);
        EXPECT_EQ(run(f, {1, 0, 0, 0, 0}), (std::vector<double>{0.25, 0.5, 0.25, 0, 0}));
        EXPECT_EQ(run(f, {1, 1, 1, 1}), (std::vector<double>{0.25, 0.75, 1.0, 1.0}));
        f.reset();
        EXPECT_EQ(run(f, {2, 0}), (std::vector<double>{0.5, 1.0})) << "reset clears the delay line";
    }
}

TEST(FirFilterFile, FilesThatAreNotOneNumberPerLineAreRefused)
{
    TempDir d;
    std::string tooMany;
    for (int i = 0; i < FIR_MAX_TAPS + 1; i++)
        tooMany += "0.001\n";
    struct { const char* name; std::string text; int taps; } cases[] = {
        {"empty", "", 0},
        {"word", "abc\n", 1},
        {"two on a line", "0.1 0.2", 1},
        {"two on a line, then more", "0.1 0.2\n0.3\n", 2},
        {"blank line", "1\n\n2\n", 3},
        {"trailing blank line", "1\n2\n\n", 3},
        {"number with a tail", "0.25\n0.5x\n", 2},
        {"50001 lines", tooMany, FIR_MAX_TAPS + 1},
        // The count stops at the first line too long: a file need not end.
        {"one long number", std::string(FIR_MAX_LINE + 1, '1'), 1},
        {"a long line amid good ones", "0.5\n" + std::string(FIR_MAX_LINE + 1, ' ') + "0.5\n0.5\n", 2},
    };
    for (auto& c : cases) {
        writeFile(d.file("fir.txt"), c.text);
        testing::internal::CaptureStdout();
        FirFilter f(d.file("fir.txt").c_str());
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(f.getError(), FIR_TAPS) << c.name;
        EXPECT_EQ(f.tapCount(), c.taps) << c.name;
        EXPECT_EQ(run(f, {1, 2, 3}), (std::vector<double>{0, 0, 0})) << c.name;
    }
    testing::internal::CaptureStdout();
    FirFilter missing(d.file("absent.txt").c_str());
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(missing.getError(), FIR_TAPS);
    EXPECT_NE(said.find("Filter has 0 taps.\n"), std::string::npos) << said;

    writeFile(d.file("fir.txt"), tooMany.substr(6));
    testing::internal::CaptureStdout();
    FirFilter largest(d.file("fir.txt").c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(largest.getError(), 0);
    EXPECT_EQ(largest.tapCount(), FIR_MAX_TAPS);

    writeFile(d.file("fir.txt"), "0.5\n0." + std::string(FIR_MAX_LINE - 3, '0') + "1\n");
    testing::internal::CaptureStdout();
    FirFilter longest(d.file("fir.txt").c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(longest.getError(), 0) << "a line of the longest length is read";
    EXPECT_EQ(longest.tapCount(), 2);
}

// The example file, its first coefficient written out to the longest line
// and one past it, with either line end: the "\r" of "\r\n" is not counted.
TEST(FirFilterFile, TheLongestLineIsTakenWithEitherLineEnd)
{
    std::vector<std::string> lines;
    std::istringstream example(readFile(testsupport::sourcePath("config/examples/heave-smoother-fir.txt")));
    for (std::string l; std::getline(example, l);)
        lines.push_back(l);
    ASSERT_EQ(lines.size(), 101u);
    ASSERT_EQ(lines[0], "0.000000000000");
    std::vector<double> impulse(lines.size(), 0.0);
    impulse[0] = 1.0;
    TempDir d;
    for (const int length : {FIR_MAX_LINE, FIR_MAX_LINE + 1}) {
        for (const char* end : {"\n", "\r\n"}) {
            const std::string where = std::to_string(length) + (end[1] ? " CRLF" : " LF");
            std::string text = lines[0] + std::string(size_t(length) - lines[0].size(), '0') + end;
            for (size_t i = 1; i < lines.size(); i++)
                text += lines[i] + end;
            writeFile(d.file("fir.txt"), text);
            testing::internal::CaptureStdout();
            FirFilter f(d.file("fir.txt").c_str());
            const std::string said = testing::internal::GetCapturedStdout();
            if (length <= FIR_MAX_LINE) {
                EXPECT_EQ(f.getError(), 0) << where << said;
                EXPECT_EQ(f.tapCount(), 101) << where;
                const std::vector<double> response = run(f, impulse);
                for (size_t i = 0; i < lines.size(); i++)
                    EXPECT_EQ(response[i], std::strtod(lines[i].c_str(), nullptr)) << where << ", tap " << i;
            } else {
                EXPECT_EQ(f.getError(), FIR_TAPS) << where;
                EXPECT_NE(said.find("line 1 is longer than 255 characters"), std::string::npos) << where << said;
            }
        }
    }
}

TEST(FirFilterDesign, ParametersAreCheckedInOrder)
{
    struct { const char* what; int type, taps; double fs, fLow, fHigh; bool bandpass; int error; } cases[] = {
        {"low-pass fs 0 and bad fLow", 0, 11, 0.0, -1.0, 0, false, FIR_LOWPASS_FS},
        {"low-pass fLow at fs/2", 0, 11, 10.0, 5.0, 0, false, FIR_LOWPASS_FLOW},
        {"low-pass fLow 0", 0, 11, 10.0, 0.0, 0, false, FIR_LOWPASS_FLOW},
        {"low-pass no taps", 0, 0, 10.0, 1.0, 0, false, FIR_TAPS},
        {"low-pass too many taps", 0, 50001, 10.0, 1.0, 0, false, FIR_TAPS},
        {"low-pass bad type", 7, 11, 10.0, 1.0, 0, false, FIR_LOWPASS_TYPE},
        {"low-pass by remez: fixed band beyond Nyquist", 1, 11, 10.0, 1.0, 0, false, FIR_DESIGN},
        {"low-pass sinc", 0, 11, 10.0, 1.0, 0, false, 0},
        {"band-pass fs 0 and fLow = fHigh", 2, 11, 0.0, 1.0, 1.0, true, FIR_BANDPASS_FS},
        {"band-pass fLow = fHigh", 2, 11, 10.0, 1.0, 1.0, true, FIR_BANDPASS_ORDER},
        {"band-pass fLow 0", 2, 11, 10.0, 0.0, 1.0, true, FIR_BANDPASS_FLOW},
        {"band-pass fHigh at fs/2", 2, 11, 10.0, 1.0, 5.0, true, FIR_BANDPASS_FHIGH},
        {"band-pass no taps", 2, 0, 10.0, 1.0, 2.0, true, FIR_BANDPASS_TAPS},
        {"band-pass bad type", 0, 11, 10.0, 1.0, 2.0, true, FIR_BANDPASS_TYPE},
        {"band-pass sinc", 2, 11, 10.0, 1.0, 2.0, true, 0},
    };
    for (auto& c : cases) {
        testing::internal::CaptureStderr();
        FirFilter f = c.bandpass ? FirFilter(c.type, c.taps, c.fs, c.fLow, c.fHigh) : FirFilter(c.type, c.taps, c.fs, c.fLow);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(f.getError(), c.error) << c.what;
    }
}

TEST(FirFilterDesign, SincCoefficientsFollowTheIdealResponse)
{
    const double pi = 3.14159265358979323846;
    FirFilter low(0, 21, 10.0, 1.0);
    FirFilter band(2, 21, 10.0, 1.0, 2.5);
    std::vector<double> l(21), b(21);
    low.copyTaps(l.data());
    band.copyTaps(b.data());
    const double lambda = 1.0 * pi / 5.0, phi = 2.5 * pi / 5.0;
    for (int i = 0; i < 21; i++) {
        double m = i - 10;
        EXPECT_EQ(l[i], l[20 - i]) << i;
        EXPECT_EQ(b[i], b[20 - i]) << i;
        if (m == 0) {
            EXPECT_DOUBLE_EQ(l[i], lambda / pi);
            EXPECT_DOUBLE_EQ(b[i], (phi - lambda) / pi);
        } else {
            EXPECT_NEAR(l[i], std::sin(lambda * m) / (pi * m), 1e-15) << i;
            EXPECT_NEAR(b[i], (std::sin(phi * m) - std::sin(lambda * m)) / (pi * m), 1e-15) << i;
        }
    }
}

TEST(FirFilterFiles, WrittenTapsReadBackWithTheirCountAsAnExtraCoefficient)
{
    TempDir d;
    FirFilter low(0, 5, 10.0, 1.0);
    ASSERT_EQ(low.writeTaps(d.file("taps.txt").c_str()), 0);
    std::vector<double> c(5);
    low.copyTaps(c.data());
    std::istringstream lines(readFile(d.file("taps.txt")));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "5");
    for (int i = 0; i < 5; i++) {
        std::getline(lines, line);
        char expect[64];
        snprintf(expect, sizeof expect, "%1.19f", c[i]);
        EXPECT_EQ(line, expect);
    }
    testing::internal::CaptureStdout();
    FirFilter back(d.file("taps.txt").c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(back.tapCount(), 6);
    std::vector<double> r(6);
    back.copyTaps(r.data());
    EXPECT_EQ(r[0], 5.0);

    FirFilter broken(0, 0, 10.0, 1.0);
    EXPECT_EQ(broken.writeTaps(d.file("x.txt").c_str()), -1);
    EXPECT_EQ(low.writeTaps(d.file("no/such/dir.txt").c_str()), -1);
}

TEST(FirFilterFiles, ResponseRunsFromZeroToHalfTheRateInDecibels)
{
    TempDir d;
    FirFilter low(0, 21, 10.0, 1.0);
    ASSERT_EQ(low.writeResponse(d.file("response.txt").c_str()), 0);
    std::vector<double> c(21);
    low.copyTaps(c.data());
    std::istringstream lines(readFile(d.file("response.txt")));
    std::string line;
    int count = 0;
    double largest = -1000.0;
    while (std::getline(lines, line)) {
        double f = 0, db = 0;
        ASSERT_EQ(sscanf(line.c_str(), "%lf %lf", &f, &db), 2) << line;
        EXPECT_NEAR(f, 5.0 * count / 9999.0, 1e-5);
        EXPECT_GE(db, -100.0);
        EXPECT_LE(db, 0.0);
        largest = std::max(largest, db);
        if (count == 0) {
            // Independent value at DC: the sum of the coefficients against the peak.
            double dc = 0;
            for (double v : c)
                dc += v;
            EXPECT_LT(db, 0.01);
            EXPECT_GT(dc, 0.9);
        }
        count++;
    }
    EXPECT_EQ(count, 10000);
    EXPECT_EQ(largest, 0.0);

    writeFile(d.file("zeros.txt"), "0\n0\n0\n");
    testing::internal::CaptureStdout();
    FirFilter zeros(d.file("zeros.txt").c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(zeros.writeResponse(d.file("z.txt").c_str()), -2);
    FirFilter broken(0, 0, 10.0, 1.0);
    EXPECT_EQ(broken.writeResponse(d.file("b.txt").c_str()), -1);
    EXPECT_EQ(low.writeResponse(d.file("no/such/dir.txt").c_str()), -3);
}

// Zero-phase amplitude of an even-symmetric filter of odd length, computed here
// directly from the coefficients.
double amplitude(const std::vector<double>& h, double f)
{
    const int m = static_cast<int>(h.size()) / 2;
    double a = h[m];
    for (int k = 1; k <= m; k++)
        a += 2.0 * h[m - k] * std::cos(2.0 * 3.14159265358979323846 * f * k);
    return a;
}

TEST(Remez, LowPassDesignIsEquiripple)
{
    std::vector<double> h(31, 0.0);
    const double bands[] = {0.0, 0.1, 0.15, 0.5};
    const double des[] = {1.0, 1.0, 0.0, 0.0};
    const double weight[] = {1.0, 1.0};
    ASSERT_EQ(remez(h.data(), 31, 2, bands, des, weight, REMEZ_BANDPASS, 16), 0);
    for (int i = 0; i < 31; i++)
        EXPECT_NEAR(h[i], h[30 - i], 1e-12) << i;

    // Error against the wanted response on a fine grid of both bands.
    std::vector<double> freq, err;
    for (int i = 0; i <= 4000; i++) {
        double f = 0.5 * i / 4000.0;
        if (f <= 0.1 || f >= 0.15) {
            freq.push_back(f);
            err.push_back((f <= 0.1 ? 1.0 : 0.0) - amplitude(h, f));
        }
    }
    double passRipple = 0, stopRipple = 0;
    for (size_t i = 0; i < freq.size(); i++)
        (freq[i] <= 0.1 ? passRipple : stopRipple) = std::max(freq[i] <= 0.1 ? passRipple : stopRipple, std::fabs(err[i]));
    EXPECT_GT(passRipple, 0.0);
    EXPECT_NEAR(passRipple / stopRipple, 1.0, 0.02) << "equal weights give equal ripple";
    EXPECT_NEAR(amplitude(h, 0.0), 1.0, passRipple * 1.01);

    // The error reaches the ripple with alternating signs at least r + 1 = 17 times.
    int alternations = 0;
    double lastSign = 0;
    for (double e : err) {
        if (std::fabs(e) < 0.98 * passRipple)
            continue;
        double sign = e > 0 ? 1 : -1;
        if (sign != lastSign)
            alternations++;
        lastSign = sign;
    }
    EXPECT_GE(alternations, 17);
}

TEST(Remez, OddSymmetryDesignsAreAntisymmetric)
{
    struct { int type, taps; double bands[2], des[2]; } cases[] = {
        {REMEZ_HILBERT, 31, {0.05, 0.45}, {1.0, 1.0}},
        {REMEZ_HILBERT, 30, {0.05, 0.5}, {1.0, 1.0}},
        {REMEZ_DIFFERENTIATOR, 32, {0.0, 0.5}, {0.0, 1.0}},
    };
    for (auto& c : cases) {
        std::vector<double> h(static_cast<size_t>(c.taps), 0.0);
        const double weight[] = {1.0};
        int rc = remez(h.data(), c.taps, 1, c.bands, c.des, weight, c.type, 16);
        EXPECT_TRUE(rc == 0 || rc == -1) << c.type << " " << c.taps << " gave " << rc;
        double size = 0;
        for (int i = 0; i < c.taps; i++) {
            EXPECT_NEAR(h[i], -h[c.taps - 1 - i], 1e-9) << c.type << " tap " << i;
            size += std::fabs(h[i]);
        }
        EXPECT_GT(size, 0.1) << c.type;
    }
}

TEST(Remez, FailedDesignsSayHowAndOnlyANonConvergingOneFillsTheTaps)
{
    const double des[] = {1.0, 1.0, 0.0, 0.0};
    struct { const char* what; int taps; double bands[4]; double stopWeight; int grid; int rc; } cases[] = {
        {"no convergence in 40 iterations", 61, {0.0, 0.45, 0.452, 0.5}, 1e6, 4, -1},
        {"too few extrema", 21, {0.0, 0.05, 0.35, 0.5}, 1.0, 2, -2},
        {"too many extrema", 21, {0.0, 0.45, 0.5, 0.5}, 1.0, 16, -3},
        {"edge beyond half the rate", 11, {0.0, 0.005, 0.095, 1.0}, 1.0, 1, -4},
        {"falling edges", 11, {0.0, 0.2, 0.1, 0.5}, 1.0, 16, -4},
        {"no taps", 0, {0.0, 0.1, 0.2, 0.5}, 1.0, 16, -4},
        {"no grid", 11, {0.0, 0.1, 0.2, 0.5}, 1.0, 0, -4},
    };
    for (auto& c : cases) {
        std::vector<double> h(61, 7.0);
        const double weight[] = {1.0, c.stopWeight};
        testing::internal::CaptureStderr();
        EXPECT_EQ(remez(h.data(), c.taps, 2, c.bands, des, weight, REMEZ_BANDPASS, c.grid), c.rc) << c.what;
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said.empty(), c.rc != -4) << c.what << ": " << said;
        if (c.rc == -1) {
            EXPECT_NE(h[0], 7.0) << c.what;
            EXPECT_NEAR(h[0], h[60], 1e-9) << c.what;
        } else {
            EXPECT_EQ(h, std::vector<double>(61, 7.0)) << c.what;
        }
    }
}

} // namespace
