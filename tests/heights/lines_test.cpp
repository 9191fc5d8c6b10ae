// Text lines of the result feeds and the valid-data share, on their own.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>

#include "subscriptions.h"

namespace {

// Everything behind the text must be zero up to the frame's end.
void expectZeroTail(const char* frame, std::size_t size) {
    const std::size_t len = strnlen(frame, size);
    ASSERT_LT(len, size) << "text not terminated inside its frame";
    for (std::size_t k = len; k < size; ++k) ASSERT_EQ(frame[k], 0) << "byte " << k;
}

}  // namespace

TEST(FeedLines, HeaveLineOfValidAndInvalidRecords) {
    char frame[HEAVE_FRAME_SIZE];
    std::memset(frame, 'x', sizeof frame);
    // Mounted at 1200 cm, surface 500 cm away, antenna straight down.
    heaveLine(frame, "1765257600000", "radarA", true, 1200.0f - 500.0f * 1.0f);
    EXPECT_STREQ(frame, "time=1765257600000;sensor=radarA;heave=700.000000cm");
    expectZeroTail(frame, sizeof frame);

    heaveLine(frame, "1765257600000", "radarA", false, 700.0f);
    EXPECT_STREQ(frame, "time=1765257600000;sensor=radarA;heave=NaNcm");
    expectZeroTail(frame, sizeof frame);

    // A NaN height prints as "nan", never "-nan".
    heaveLine(frame, "1", "r", true, -std::numeric_limits<float>::quiet_NaN());
    EXPECT_STREQ(frame, "time=1;sensor=r;heave=nancm");
}

TEST(FeedLines, VintorLineOfValidAndInvalidRecords) {
    char frame[VINTOR_FRAME_SIZE];
    const float v[10] = {1200, 0, 700, 2.1758049f, 500, 501, 1000.5f, 2000.25f, 12.5f, -10};
    vintorLine(frame, "1765257600000", "radarA", v, true, 0);
    EXPECT_STREQ(frame,
                 "time=1765257600000;sensor=radarA;Vintor=1200.000000,0.000000,700.000000,2.175805,500.000000,"
                 "501.000000,1000.500000,2000.250000,12.500000,-10.000000;");
    expectZeroTail(frame, sizeof frame);

    vintorLine(frame, "1765257600000", "radarA", v, false, 15);
    EXPECT_STREQ(frame, "time=1765257600000;sensor=radarA;Vintor=NaN;Value=15");
    expectZeroTail(frame, sizeof frame);

    // A single-sweep record has no Doppler velocity: the fourth value reads "nan".
    float single[10] = {1200, 0, 700, -NAN, 500, 0, 1, 0, 12.5f, 0};
    vintorLine(frame, "1", "r", single, true, 0);
    EXPECT_NE(std::strstr(frame, "700.000000,nan,500.000000"), nullptr) << frame;
}

TEST(FeedLines, LinesAreCutToTheirFramesWhateverTheInput) {
    // A 150-character radar name, an unterminated time field and values of
    // the widest "%f" form would overrun both frames.
    std::string name(150, 'N');
    char time[20];
    std::memset(time, '7', sizeof time);
    float wide[10];
    for (float& w : wide) w = -FLT_MAX;
    struct Guarded {
        char frame[VINTOR_FRAME_SIZE];
        char guard[64];
    } g;
    std::memset(g.guard, 'G', sizeof g.guard);

    vintorLine(g.frame, time, name.c_str(), wide, true, 0);
    EXPECT_EQ(std::strlen(g.frame), VINTOR_FRAME_SIZE - 1);
    const std::string head = "time=" + std::string(20, '7') + ";sensor=" + std::string(99, 'N') + ";Vintor=-";
    EXPECT_EQ(std::string(g.frame, head.size()), head);

    // The heave line fits even then: 5 + 20 + 8 + 99 + 7 + 47 + 2 characters.
    heaveLine(g.frame, time, name.c_str(), true, -FLT_MAX);
    EXPECT_EQ(std::strlen(g.frame), 188u);
    EXPECT_EQ(std::string(g.frame).substr(186), "cm");
    expectZeroTail(g.frame, HEAVE_FRAME_SIZE);
    for (char c : g.guard) ASSERT_EQ(c, 'G');
}

TEST(FeedLines, ReflectionNumbersMatchFixedFiveDecimals) {
    for (float v : {123.0f, 1.5f, 0.000004f, -2.25f, 700.0f, 0.25f, 3.0e20f, FLT_MAX, -FLT_MAX,
                    std::numeric_limits<float>::infinity()}) {
        std::ostringstream os;
        os << std::fixed << std::setprecision(5) << v;
        std::string s;
        appendFloat5(s, v);
        EXPECT_EQ(s, os.str());
    }
    std::string s = "x";
    appendFloat5(s, -std::numeric_limits<float>::infinity());
    EXPECT_EQ(s, "x0");
}

TEST(ValidData, SteppedPercentageOfALeakyCount) {
    ValidDataCounter c;
    c.validDataPointsN = 10;
    c.validDataPointsSteps = 10;
    struct Step {
        bool valid;
        int count;
        bool report;
        float percentage;
    } steps[] = {
        {true, 1, false, 0},   // 1 equals the start value of the previous count
        {true, 2, true, 20},   {true, 3, true, 30},  {true, 4, true, 40}, {true, 5, true, 50},
        {true, 6, true, 60},   {true, 7, true, 70},
        {false, 6, true, 60},  // one invalid record
        {true, 7, true, 70},   {true, 8, true, 80},  {true, 9, true, 90}, {true, 10, true, 100},
        {true, 10, false, 0},  // full: the count stays at 10, nothing new
    };
    for (const Step& s : steps) {
        const bool report = c.count(s.valid);
        EXPECT_EQ(c.validDataPoints, s.count);
        EXPECT_EQ(report, s.report) << "at count " << s.count;
        if (report) {
            EXPECT_FLOAT_EQ(c.percentage, s.percentage);
            c.percentagePrev = c.percentage;  // delivered
        }
    }
    for (int k = 0; k < 15; ++k) c.count(false);
    EXPECT_EQ(c.validDataPoints, 0);
    EXPECT_EQ(validDataRequest(20.0f), "{\"setmem\":{\"status\":{\"vintor\":{\"validDataPoints\":\"20.000000\"}}}}");
}

TEST(ValidData, CoarseStepsReportOnlyChangesAndEmptyRangesNothing) {
    // Steps of 50 %: counts 2..7 of 10 give 0, 50, 50, 50, 50, 50 (roundf rounds halves up).
    ValidDataCounter c;
    c.validDataPointsN = 10;
    c.validDataPointsSteps = 50;
    int reports = 0;
    for (int k = 0; k < 7; ++k)
        if (c.count(true)) {
            ++reports;
            c.percentagePrev = c.percentage;
        }
    EXPECT_EQ(reports, 2);
    EXPECT_FLOAT_EQ(c.percentagePrev, 50.0f);
    // Missing "validDataPointsN" or "validDataPointsSteps": no percentage is ever sent.
    for (auto [n, steps] : {std::pair<int, float>{0, 10}, {-5, 10}, {10, 0}, {10, -1}}) {
        ValidDataCounter e;
        e.validDataPointsN = n;
        e.validDataPointsSteps = steps;
        for (int k = 0; k < 20; ++k) EXPECT_FALSE(e.count(k % 3 != 0));
        EXPECT_GE(e.validDataPoints, 0);
    }
}
