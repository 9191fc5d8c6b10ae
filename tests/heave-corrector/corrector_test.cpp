// The heave corrector's parsers, alignment and correction fed with texts.
#include "corrector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

const double PI = 3.141592653589793;

TEST(RadarLine, KeysInAnyOrderAndNothingFromAnotherLine)
{
    struct { std::string text; uint64_t time; const char* sensor; float heave; } cases[] = {
        {"time=1700000000000;sensor=radar0;heave=200.019226cm", 1700000000000ull, "radar0", 200.019226f},
        {"time=4102444800000;sensor=radar1;heave=1cm", 4102444800000ull, "radar1", 1.0f},  // 2100
        {"heave=12.5cm;sensor=radar2;time=42;extra=1", 42, "radar2", 12.5f},
        {"time=5;sensor=radar0;heave=NaNcm", 5, "radar0", NAN},
        {"time=5;sensor=radar0;heave=nancm", 5, "radar0", NAN},
        {"sensor=radar0;heave=3cm", 0, "radar0", 3.0f},
        {"time=7;sensor=radar0", 7, "radar0", NAN},
        {"time=7;sensor=abcdefghijklmnopqrstuvwxyz;heave=1cm", 7, "abcdefghijklmnopqrs", 1.0f},
        {"", 0, "", NAN},
        {"time;=;heave==", 0, "", 0.0f},  // a value that is no number reads as 0
    };
    for (auto& c : cases) {
        radarheave_st r = parseRadarLine(c.text, true);
        EXPECT_EQ(r.time, c.time) << c.text;
        EXPECT_STREQ(r.sensor, c.sensor) << c.text;
        if (std::isnan(c.heave))
            EXPECT_TRUE(std::isnan(r.heave)) << c.text;
        else
            EXPECT_EQ(r.heave, c.heave) << c.text;
    }
}

TEST(ImuLine, TimeCutToMillisecondsPlusTheLag)
{
    struct { std::string text, lag; bool fields; uint64_t time; float heave, roll, pitch, yaw; } cases[] = {
        {"1700000000000123,1.5,2,3,4", "", true, 1700000000000ull, 1.5f, 2, 3, 4},
        {"1700000000000,1.5,2,3,4,99", "20", true, 1700000000020ull, 1.5f, 2, 3, 4},
        {"1700000000000123,0,0,0,0", "-5", true, 1699999999995ull, 0, 0, 0, 0},
        {"abc,x,0,0,0", "x", true, 0, 0, 0, 0, 0},
        {"-50,1,1,1,1", "", true, 0, 1, 1, 1, 1},
        {"1000,,,,", "", true, 1000, 0, 0, 0, 0},
        {"1000,1,2,3", "", false, 0, 0, 0, 0, 0},
        {"", "", false, 0, 0, 0, 0, 0},
    };
    for (auto& c : cases) {
        EXPECT_EQ(hasImuFields(c.text), c.fields) << c.text;
        if (!c.fields)
            continue;
        imusample_st s = parseImuLine(c.text, c.lag, true);
        EXPECT_EQ(s.time, c.time) << c.text;
        EXPECT_EQ(s.heave, c.heave) << c.text;
        EXPECT_EQ(s.roll, c.roll) << c.text;
        EXPECT_EQ(s.pitch, c.pitch) << c.text;
        EXPECT_EQ(s.yaw, c.yaw) << c.text;
    }
}

TEST(Correction, RadarHeaveTurnedBackAndImuHeaveAdded)
{
    struct { float radar, imu, roll, pitch; double height, angle; const char* line; } cases[] = {
        {700, 5, 0, 0, 1200, 0, "1000,705,0,0,7"},
        {700, 5, 10, 0, 1200, 0, "1000,712.596,10,0,7"},
        {NAN, 5, 0, 0, 1200, 0, "1000,nan,0,0,7"},
        {-1.5e6f, 0, 0, 0, 0, 0, "1000,-1.5e+06,0,0,7"},
    };
    for (auto& c : cases) {
        interpolated_st s{1000, c.imu, c.radar, c.roll, c.pitch, 7};
        EXPECT_EQ(formatCorrected(s, correctHeave(s, {c.height, c.angle}, true)), c.line);
    }
    // Against a computation of its own, every angle in play.
    interpolated_st s{1, 2.5f, 640.0f, 7.0f, -4.0f, 0};
    double rotated = 1150.0 - (1150.0 - 640.0) * std::cos(7.0 * PI / 180) * std::cos(-4.0 * PI / 180) / std::cos(3.0 * PI / 180);
    EXPECT_NEAR(correctHeave(s, {1150.0, 3.0}, true), rotated + 2.5, 1e-3);
}

// An aligner with IMU lines every 100 ms from 1000, heave k at line k.
struct Aligner {
    HeaveAligner a{"0", true};
    explicit Aligner(int lines = 6, int start = 1000, int step = 100)
    {
        for (int k = 0; k < lines; k++)
            a.addImu(std::to_string(start + k * step) + "," + std::to_string(k * 10) + ",1,2,3");
    }
    // Steps until an output or n steps; the output's time and IMU heave.
    bool run(interpolated_st* out, int n = 4)
    {
        for (int i = 0; i < n; i++)
            if (a.step(out))
                return true;
        return false;
    }
};

std::string radar(uint64_t t, const char* heave = "700cm")
{
    return "time=" + std::to_string(t) + ";sensor=radar0;heave=" + heave;
}

TEST(Alignment, RadarSamplesBetweenTwoImuSamplesAreInterpolated)
{
    struct { uint64_t radarTime; bool out; float heaveImu; } cases[] = {
        {1050, true, 5.0f},   // halfway between 1000 (0) and 1100 (10)
        {1000, true, 0.0f},   // equal to L: L's values unchanged
        {1100, true, 10.0f},  // equal to H
        {1025, true, 2.5f},
        {999, false, 0},      // older than the pair: dropped
    };
    for (auto& c : cases) {
        Aligner al;
        al.a.addRadar(radar(c.radarTime));
        interpolated_st s{};
        EXPECT_EQ(al.run(&s, 1), c.out) << c.radarTime;
        if (!c.out) {
            EXPECT_EQ(al.a.radarCount(), 0u) << "dropped";
            continue;
        }
        EXPECT_EQ(s.time, c.radarTime);
        EXPECT_EQ(s.heaveRadar, 700.0f);
        EXPECT_EQ(s.heaveIMU, c.heaveImu) << c.radarTime;
        EXPECT_EQ(s.roll, 1.0f);
        EXPECT_EQ(s.pitch, 2.0f);
        EXPECT_EQ(s.yaw, 3.0f);
    }
}

TEST(Alignment, TheImuPairMovesOnByOneSample)
{
    // A radar sample after the pair moves it on until it lies inside.
    Aligner later;
    later.a.addRadar(radar(1250));
    interpolated_st s{};
    EXPECT_TRUE(later.run(&s));
    EXPECT_EQ(s.heaveIMU, 25.0f);

    // IMU samples 150 ms apart are not interpolated between; 149 ms apart are.
    struct { int step; bool out; } gaps[] = {{150, false}, {149, true}};
    for (auto& g : gaps) {
        Aligner al(6, 1000, g.step);
        al.a.addRadar(radar(1000 + g.step / 2));
        EXPECT_EQ(al.run(&s, 1), g.out) << g.step;
        EXPECT_EQ(al.a.imuCount(), g.out ? 5u : 4u) << "a gap moves the pair on by one";
    }

    // Equal values at L and H give exactly that value, whatever the spacing.
    HeaveAligner same("0", true);
    for (int k = 0; k < 4; k++)
        same.addImu(std::to_string(1000 + 7 * k) + ",0.1,0.3,0.7,1.1");
    same.addRadar(radar(1003));
    ASSERT_TRUE(same.step(&s));
    EXPECT_EQ(s.heaveIMU, 0.1f);
    EXPECT_EQ(s.roll, 0.3f);
    EXPECT_EQ(s.pitch, 0.7f);
    EXPECT_EQ(s.yaw, 1.1f);
}

TEST(Alignment, NoStepWithThreeImuSamplesOrFewerButNanLinesGoOutAtOnce)
{
    Aligner al(3);
    EXPECT_TRUE(al.a.addRadar(radar(1050, "nancm")));
    EXPECT_FALSE(al.a.addRadar(radar(1060)));
    interpolated_st s{};
    EXPECT_FALSE(al.run(&s));
    EXPECT_EQ(al.a.radarCount(), 2u);
    EXPECT_FALSE(al.a.addImu("1300,1,1")) << "fewer than five fields";
    EXPECT_FALSE(al.run(&s));
    al.a.addImu("1300,30,1,2,3");
    ASSERT_TRUE(al.run(&s));
    EXPECT_TRUE(std::isnan(s.heaveRadar)) << "the nan sample is corrected as nan";
    EXPECT_EQ(formatCorrected(s, correctHeave(s, {1200, 0}, true)), "1050,nan,1,2,3");
}

TEST(Alignment, QueuesKeepTheirNewestTexts)
{
    HeaveAligner a("0", true);
    for (int t = 1; t <= 1202; t++)
        a.addRadar(radar(static_cast<uint64_t>(t)));
    EXPECT_EQ(a.radarCount(), 1201u);
    for (int k = 0; k < 202; k++)
        a.addImu(std::to_string(k * 100) + ",0,0,0,0");
    EXPECT_EQ(a.imuCount(), 201u);
    // The oldest radar text (1) and IMU text (0) are gone: the first step pairs
    // 100 and 200, which radar 2 precedes, so it is dropped.
    interpolated_st s{};
    EXPECT_FALSE(a.step(&s));
    EXPECT_EQ(a.radarCount(), 1200u);

    // A "NaN" text replaces the oldest queued one, unless the queue is empty.
    HeaveAligner n("0", true);
    n.addRadar(radar(5, "NaNcm"));
    n.addRadar(radar(6));
    n.addRadar(radar(7, "NaNcm"));
    EXPECT_EQ(n.radarCount(), 2u);
    for (int k = 0; k < 6; k++)
        n.addImu(std::to_string(k * 5) + ",0,0,0,0");
    bool aligned = false;
    for (int i = 0; i < 3 && !aligned; i++)
        aligned = n.step(&s);
    ASSERT_TRUE(aligned);
    EXPECT_EQ(s.time, 6u) << "the NaN line at 5 was replaced";
}

TEST(Alignment, DiagnosticsOnlyWhenNotQuiet)
{
    for (bool quiet : {true, false}) {
        HeaveAligner a("0", quiet);
        testing::internal::CaptureStdout();
        for (int k = 0; k < 5; k++)
            a.addImu(std::to_string(1000 + 100 * k) + ",0,0,0,0");
        a.addRadar(radar(1050));
        interpolated_st s{};
        a.step(&s);
        correctHeave(s, {1200, 0}, quiet);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.empty(), quiet) << out;
        if (!quiet) {
            EXPECT_NE(out.find("Interpolate - imuL: 1000 Radar Time :1050 imuH: 1100"), std::string::npos) << out;
            EXPECT_NE(out.find("HeaveCorrected =700"), std::string::npos) << out;
        }
    }
}

} // namespace
