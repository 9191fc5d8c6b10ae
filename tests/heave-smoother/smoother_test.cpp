// The smoother's per-line work fed with lines directly: the 100 ms grid, the
// output lag, gaps, NaN heave and malformed lines.
#include "harness.h"
#include "smoother.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

struct Lines : LineSink {
    std::vector<std::string> lines;
    void publish(const char* line, size_t length) override { lines.emplace_back(line, length); }
};

// A filter from a coefficient text, the smoother on it and what it published.
struct Bench {
    TempDir dir;
    std::unique_ptr<FirFilter> filter;
    Lines out;
    std::unique_ptr<HeaveSmoother> smoother;
    explicit Bench(const std::string& coefficients)
    {
        writeFile(dir.file("fir.txt"), coefficients);
        testing::internal::CaptureStdout();
        filter.reset(new FirFilter(dir.file("fir.txt").c_str()));
        testing::internal::GetCapturedStdout();
        smoother.reset(new HeaveSmoother(*filter, out, true));
    }
    std::vector<std::string> feed(const std::vector<std::string>& lines)
    {
        out.lines.clear();
        for (const auto& l : lines)
            smoother->processLine(l.c_str());
        return out.lines;
    }
};

const char* const PASS = "1\n0\n";      // output = input, ringLag 0, gap limit 200
const char* const DELAY = "0\n1\n";     // output = input one grid point back, ringLag 0, gap limit 200

TEST(FilterLine, FieldsKeepTheirPlaces)
{
    struct { const char* line; bool ok; double t, h, r, p, y; } cases[] = {
        {"1000,1.5,2,3,4", true, 1000, 1.5, 2, 3, 4},
        {"1000,1.5,2,3,4,99,x", true, 1000, 1.5, 2, 3, 4},
        {"1000,,1,2,3", true, 1000, NAN, 1, 2, 3},
        {"1000,5,,,", true, 1000, 5, NAN, NAN, NAN},
        {"1000,nan,1,2,3", true, 1000, NAN, 1, 2, 3},
        {"1000,5,1,2", false, 0, 0, 0, 0, 0},
        {"", false, 0, 0, 0, 0, 0},
        {"1000", false, 0, 0, 0, 0, 0},
    };
    for (auto& c : cases) {
        filtersample_st s{-1, -1, -1, -1, -1};
        EXPECT_EQ(parseFilterLine(c.line, &s), c.ok) << c.line;
        if (!c.ok) {
            EXPECT_EQ(s.time, -1) << "left alone: " << c.line;
            continue;
        }
        EXPECT_EQ(s.time, static_cast<int64_t>(c.t));
        double got[] = {s.heave, s.roll, s.pitch, s.yaw}, want[] = {c.h, c.r, c.p, c.y};
        for (int i = 0; i < 4; i++)
            EXPECT_TRUE(std::isnan(want[i]) ? std::isnan(got[i]) : got[i] == want[i]) << c.line << " field " << i + 1;
    }
}

TEST(Smoother, ResamplesLinearlyOntoTheGrid)
{
    Bench b(PASS);
    EXPECT_EQ(b.feed({"1050,0,0,0,0"}), std::vector<std::string>{}) << "a first line alone gives no grid point";
    EXPECT_EQ(b.feed({"1250,10,2,-4,100"}),
              (std::vector<std::string>{"1100,2.500000,0.500000,-1.000000,25.000000",
                                        "1200,7.500000,1.500000,-3.000000,75.000000"}));
}

TEST(Smoother, OneOutputPerGridTimeIncludingInputTimesOnTheGrid)
{
    Bench b(PASS);
    std::vector<std::string> in;
    for (int t = 1000; t <= 1400; t += 20)
        in.push_back(std::to_string(t) + "," + std::to_string(t / 10) + ",1,2,3");
    EXPECT_EQ(b.feed(in), (std::vector<std::string>{
                              "1100,110.000000,1.000000,2.000000,3.000000", "1200,120.000000,1.000000,2.000000,3.000000",
                              "1300,130.000000,1.000000,2.000000,3.000000", "1400,140.000000,1.000000,2.000000,3.000000"}));
}

TEST(Smoother, PublishesRingLagGridPointsLateWithTheValuesOfThatTime)
{
    // 101 taps, only the centre one set: the filter delays by 50 grid points,
    // exactly the ring's lag, so each published time carries its own input.
    std::string centre;
    for (int i = 0; i < 101; i++)
        centre += i == 50 ? "1\n" : "0\n";
    Bench b(centre);
    ASSERT_EQ(HeaveSmoother::ringLagFor(101), 50);
    std::vector<std::string> published;
    for (int t = 10000; t <= 20000; t += 100) {
        auto got = b.feed({std::to_string(t) + "," + std::to_string((t - 10000) / 100) + ",0.5,0,0"});
        int points = (t - 10000) / 100;  // grid points so far
        ASSERT_EQ(got.size(), points > 50 ? 1u : 0u) << "at " << t;
        if (!got.empty()) {
            char want[128];
            int g = t - 5000;
            snprintf(want, sizeof want, "%d,%f,0.500000,0.000000,0.000000", g, (g - 10000) / 100.0);
            EXPECT_EQ(got[0], want);
        }
    }
}

TEST(Smoother, AnImpulseThroughASymmetricFilterComesOutAtItsOwnTime)
{
    // Triangular filters, every tap set, peak in the middle; a unit heave at
    // 20000 alone in a flat record.  Its filtered peak must carry 20000 (with
    // an even count the two middle taps tie: the first of the pair).
    for (int taps : {51, 101, 50}) {
        std::string triangle;
        for (int i = 0; i < taps; i++)
            triangle += std::to_string(1 + std::min(i, taps - 1 - i)) + "\n";
        Bench b(triangle);
        std::vector<std::string> in;
        for (int t = 10000; t <= 40000; t += 100)
            in.push_back(std::to_string(t) + (t == 20000 ? ",1" : ",0") + ",0,0,0");
        double best = 0.0;
        long long bestTime = 0;
        for (const std::string& line : b.feed(in)) {
            long long t;
            double h;
            ASSERT_EQ(sscanf(line.c_str(), "%lld,%lf", &t, &h), 2) << line;
            if (h > best) {
                best = h;
                bestTime = t;
            }
        }
        EXPECT_EQ(bestTime, 20000) << taps << " taps";
        EXPECT_EQ(best, 1.0 + (taps - 1) / 2) << taps << " taps";
    }
}

TEST(Smoother, AGapLongerThanTheFilterStartsItAfresh)
{
    Bench b(DELAY);
    b.feed({"1000,5,0,0,0", "1100,5,0,0,0", "1200,5,0,0,0"});
    // Exactly taps x 100: resampled normally into two points.
    EXPECT_EQ(b.feed({"1400,5,0,0,0"}).size(), 2u);
    // One more: no points for the jump, and the delay line starts from zeros.
    EXPECT_EQ(b.feed({"1601,5,0,0,0"}), std::vector<std::string>{});
    EXPECT_EQ(b.feed({"1700,5,0,0,0", "1800,5,0,0,0"}),
              (std::vector<std::string>{"1700,0.000000,0.000000,0.000000,0.000000",
                                        "1800,5.000000,0.000000,0.000000,0.000000"}));
}

TEST(Smoother, NanHeaveFeedsThePreviousValueAndIsMarked)
{
    Bench b(PASS);
    EXPECT_EQ(b.feed({"1000,nan,0,0,0", "1100,nan,1,1,1", "1200,7,1,1,1", "1300,,1,1,1", "1400,8,1,1,1"}),
              (std::vector<std::string>{"1100,nan,1.000000,1.000000,1.000000",
                                        "1200,7.000000,1.000000,1.000000,1.000000",
                                        "1300,nan,1.000000,1.000000,1.000000",
                                        "1400,8.000000,1.000000,1.000000,1.000000"}));
    // The value fed for a marked point is the previous heave, or 0 when that was
    // NaN too: a one-point delay shows it on the following point.
    struct { std::vector<std::string> in; const char* fed; } cases[] = {
        {{"1000,4,0,0,0", "1100,nan,0,0,0", "1200,6,0,0,0"}, "1200,4.000000,0.000000,0.000000,0.000000"},
        {{"1000,nan,0,0,0", "1100,nan,0,0,0", "1200,6,0,0,0"}, "1200,0.000000,0.000000,0.000000,0.000000"},
    };
    for (auto& c : cases) {
        Bench d(DELAY);
        auto got = d.feed(c.in);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0], "1100,nan,0.000000,0.000000,0.000000");
        EXPECT_EQ(got[1], c.fed);
    }
}

TEST(Smoother, TimesGoingBackResampleFromTheOlderTime)
{
    Bench b(PASS);
    EXPECT_EQ(b.feed({"1000,0,0,0,0", "1200,20,0,0,0"}).size(), 2u);
    EXPECT_EQ(b.feed({"1150,15,0,0,0"}), std::vector<std::string>{});
    EXPECT_EQ(b.feed({"1300,30,0,0,0"}),
              (std::vector<std::string>{"1200,20.000000,0.000000,0.000000,0.000000",
                                        "1300,30.000000,0.000000,0.000000,0.000000"}));
}

TEST(Smoother, ShortLinesAreSkippedWithoutTakingAPlace)
{
    Bench b(PASS);
    EXPECT_EQ(b.feed({"1000,0,0,0,0", "1100,99,9", "1200,20,0,0,0"}),
              (std::vector<std::string>{"1100,10.000000,0.000000,0.000000,0.000000",
                                        "1200,20.000000,0.000000,0.000000,0.000000"}));
}

} // namespace
