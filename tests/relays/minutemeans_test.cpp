// The minute means of drift-mean, driven line by line. Expected means are
// computed here in double precision from the values sent.
#include <gtest/gtest.h>

#include "minutemeans.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace std::string_literals;

namespace {

// A "vintor" frame as the radar program sends it: 400 bytes, NUL-padded.
std::string frame(long long t, const std::string& vdoppler)
{
    char text[400] = {};
    snprintf(text, sizeof text, "time=%lld;sensor=radar0;Vintor=1200.000000,0.000000,210.5,%s,996.3,1003.6,1,2,3,4;", t,
             vdoppler.c_str());
    return std::string(text, sizeof text);
}

struct Feeder {
    MinuteMeans means;
    MinutePublication last;
    int publications = 0;
    void line(const std::string& f)
    {
        MinutePublication p;
        if (means.take(f.data(), f.size(), nullptr, &p)) {
            last = p;
            publications++;
        }
    }
    void value(long long t, double v)
    {
        char text[32];
        snprintf(text, sizeof text, "%f", v);
        line(frame(t, text));
    }
};

double meanOf(const std::string& line)
{
    return std::atof(line.substr(line.rfind('=') + 1).c_str());
}

TEST(MinuteMeans, NeedMoreThanTheThresholdOfSamples)
{
    for (int n : {450, 451}) {
        Feeder f;
        for (int i = 0; i < n; i++)
            f.value(60000 + i * 100, 1.5);
        f.value(120000, 99.0);
        ASSERT_EQ(f.publications, 2) << n; // the first line opens minute 1 too
        EXPECT_EQ(f.last.boundary, 120000);
        EXPECT_EQ(f.last.lines[0], n == 450 ? "time=90000;sensor=sensor0;vdup_1=NaN;"
                                            : "time=90000;sensor=sensor0;vdup_1=1.5;");
        EXPECT_EQ(f.last.lines[1], "time=-180000;sensor=sensor0;vdup_10=NaN;");
        EXPECT_EQ(f.last.lines[2], "time=-30000;sensor=sensor0;vdup_5=NaN;");
        EXPECT_EQ(f.last.count[0], n); // the line that opened the minute is not in it
    }
}

TEST(MinuteMeans, AMeanOfValuesNearTheFloatLimitStaysFinite)
{
    // A 32-bit sum of these overflows after two samples; the mean must not.
    Feeder f;
    for (int i = 0; i < 451; i++)
        f.line(frame(60000 + i * 100, i % 2 == 0 ? "3e38" : "2e38"));
    f.value(120000, 0.0);
    EXPECT_EQ(f.last.lines[0], "time=90000;sensor=sensor0;vdup_1=2.50111e+38;");
    EXPECT_TRUE(std::isfinite(f.last.sum[0]));
}

TEST(MinuteMeans, AverageTenMinutesOfAVaryingVelocity)
{
    // 4800 samples in the 10 minutes before M = 1700000400000, 8 per second.
    const long long M = 1700000400000, start = M - 600000;
    double sum[3] = {0, 0, 0};
    int count[3] = {0, 0, 0};
    const long long width[3] = {60000, 600000, 300000};
    Feeder f;
    for (int i = 0; i < 4800; i++) {
        long long t = start + i * 125;
        double v = std::round(1e6 * 12.0 * std::sin(i * 0.01)) / 1e6; // as "%f" prints it
        f.value(t, v);
        for (int w = 0; w < 3; w++)
            if (t >= M - width[w]) {
                sum[w] += v;
                count[w]++;
            }
    }
    f.line(frame(M, "NaN")); // a line that only closes the minute
    ASSERT_EQ(f.last.boundary, M);
    const char* keys[3] = {"vdup_1=", "vdup_10=", "vdup_5="};
    const long long middle[3] = {M - 30000, M - 300000, M - 150000};
    for (int w = 0; w < 3; w++) {
        EXPECT_EQ(f.last.count[w], count[w]);
        EXPECT_EQ(f.last.lines[w].rfind("time=" + std::to_string(middle[w]) + ";sensor=sensor0;" + keys[w], 0), 0u);
        EXPECT_NEAR(meanOf(f.last.lines[w]), sum[w] / count[w], 1e-3 + 1e-4 * std::fabs(sum[w] / count[w]))
            << f.last.lines[w];
    }
}

TEST(MinuteMeans, TakeOnlyNumbersAsSamples)
{
    struct Case {
        std::string frame;
        size_t samples;
        long long time;
    } cases[] = {
        {frame(61000, "2.5"), 1, 61000},
        {frame(4102444800000, "2.5"), 1, 4102444800000},                         // 2100
        {frame(62000, "nan"), 0, 62000},                                         // the radar's printf of NaN
        {frame(63000, "-inf"), 0, 63000},
        {frame(64000, "1.5x"), 0, 64000},
        {frame(64000, ""), 0, 64000},
        {"time=65000;sensor=radar0;Vintor=NaN;Value=15", 0, 65000},               // no value, but the time
        {"time=66000;sensor=radar0;no commas", 0, 66000},
        {"time=67000;sensor=radar0;Vintor=1,2,1e39,3", 0, 67000},                 // beyond a float
        {"ab;", 0, 0},                                                            // too short for a time
        {"time=68000;s;Vintor=1,2,3,4.5,\0,9"s, 1, 68000},
    };
    for (const auto& c : cases) {
        Feeder f;
        f.line(c.frame);
        EXPECT_EQ(f.means.samples().size(), c.samples) << c.frame.c_str();
        EXPECT_EQ(f.means.currentTime(), c.time) << c.frame.c_str();
    }
}

TEST(MinuteMeans, ForgetSamplesOlderThanTwentyMinutes)
{
    Feeder f;
    f.value(100000, 7.0);
    f.value(100000 + MinuteMeans::retention, 1.0); // minute 21: keeps the first sample
    EXPECT_EQ(f.means.samples().size(), 2u);
    f.value(120000 + MinuteMeans::retention + 1, 1.0); // minute 22: M - retention > 100000
    ASSERT_EQ(f.means.samples().size(), 2u);
    EXPECT_EQ(f.means.samples().front().value, 1.0f);
}

TEST(MinuteMeans, PublishAgainWhenTimeJumpsBack)
{
    Feeder f;
    f.value(180000, 1.0);
    f.value(60000, 1.0);
    EXPECT_EQ(f.publications, 2);
    EXPECT_EQ(f.last.boundary, 60000);
    EXPECT_EQ(f.last.count[0], 0); // the later sample is not in the earlier window
}

} // namespace
