// The surface tracking window on its own: windows, peak choice, statistics.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "h.h"

namespace {

struct TestPeak {
    int bin;
    float height;
    float correction;
};

// Free-space radar, 10 cm per bin, measuring range 1..20 m: a peak at bin b
// lies at 10*b cm.
SectionSettings freeSpace(float margin = 1.0f) {
    SectionSettings s;
    s.minimumheight = 1.0f;
    s.maximumheight = 20.0f;
    s.fourierDistanceCm = 10.0f;
    s.pipeCorrection = 1.0f;
    s.isFreeSpaceRadar = 1;
    s.secondPeakMargin = margin;
    return s;
}

// A tracker whose section has a slot, a last valid distance and time, and the
// given standard deviation and running count.
SurfaceTracker trackerAt(float last, double lastTime, double stdDev, int count) {
    SurfaceTracker t;
    t.registerSection("radar0");
    t.slots[0].stdDev = stdDev;
    t.slots[0].lastValidTime = lastTime;
    t.slots[0].peaksOutsideDynWind = count;
    t.load("radar0");
    t.windowLastDistance[0] = t.windowLastDistance[1] = last;
    return t;
}

}  // namespace

TEST(SurfaceTracker, FirstRecordOfASectionSearchesTheWholeMeasuringRange) {
    SurfaceTracker t;
    t.registerSection("radar0");
    EXPECT_EQ(t.load("radar0"), 0);
    t.window(freeSpace(), 1.7e12);
    for (int i = 0; i < 2; ++i) {
        EXPECT_FLOAT_EQ(t.windowdown[i], 100.0f);
        EXPECT_FLOAT_EQ(t.windowup[i], 2000.0f);
    }
    EXPECT_NEAR(t.dt, 1.7e9, 1.0);
}

TEST(SurfaceTracker, DynamicWindowFollowsSpeedTimeAndOutsideCount) {
    struct Case {
        double stdDev;
        double dtSeconds;
        int count;
        float vmax, down, up;  // window relative to the last distance 1000 cm
    } cases[] = {
        // std 1 cm: wave height 0.04 m, 3*sqrt = 0.6, raised to 1 m/s.
        {1.0, 0.5, 0, 1.0f, 1000 - 225, 1000 + 150},  // displacement 75
        {1.0, 0.1, 0, 1.0f, 1000 - 120, 1000 + 80},   // 15 raised to 40
        {1.0, 0.5, 2, 1.0f, 1000 - 450, 1000 + 300},  // count 2 doubles it
        // std 100 cm: wave height 4 m, Vmax 6 m/s, 0.1 s: 6/0.01*1.5*0.1 = 90.
        {100.0, 0.1, 0, 6.0f, 1000 - 270, 1000 + 180},
    };
    for (const Case& c : cases) {
        SurfaceTracker t = trackerAt(1000.0f, 1e12, c.stdDev, c.count);
        t.window(freeSpace(), 1e12 + c.dtSeconds * 1000.0);
        SCOPED_TRACE(testing::Message() << "std " << c.stdDev << " dt " << c.dtSeconds << " count " << c.count);
        EXPECT_FLOAT_EQ(t.Vmax, c.vmax);
        for (int i = 0; i < 2; ++i) {
            EXPECT_NEAR(t.windowdown[i], c.down, 1e-3);
            EXPECT_NEAR(t.windowup[i], c.up, 1e-3);
        }
    }
}

TEST(SurfaceTracker, WindowIsClampedToTheMeasuringRangeAndResetWhenInverted) {
    // Near the top of the range the far edge stops at 2000 cm.
    SurfaceTracker near = trackerAt(1950.0f, 1e12, 1.0, 0);
    near.window(freeSpace(), 1e12 + 100);
    EXPECT_FLOAT_EQ(near.windowup[0], 2000.0f);
    EXPECT_FLOAT_EQ(near.windowdown[0], 1830.0f);
    // A centre far beyond the range inverts the window: the static one is used.
    SurfaceTracker beyond = trackerAt(5000.0f, 1e12, 1.0, 0);
    beyond.window(freeSpace(), 1e12 + 100);
    EXPECT_FLOAT_EQ(beyond.windowup[1], 2000.0f);
    EXPECT_FLOAT_EQ(beyond.windowdown[1], 100.0f);
}

TEST(SurfaceTracker, PeakChoiceByWindowsAndMargin) {
    struct Case {
        const char* what;
        float margin;
        std::vector<TestPeak> peaks;
        int bin;        // chosen, 0 = none
        float height;   // of the choice, -10 = none
        int outside;    // sweeps counted against the dynamic window
    } cases[] = {
        {"farther peak not above margin 2 keeps the nearer", 2.0f, {{95, 100, 0}, {105, 150, 0}}, 95, 100, 0},
        {"with margin 1 the higher farther peak wins", 1.0f, {{95, 100, 0}, {105, 150, 0}}, 105, 150, 0},
        {"equal heights with margin 1 keep the nearer", 1.0f, {{95, 100, 0}, {105, 100, 0}}, 95, 100, 0},
        {"weak inside, strong outside the dynamic window", 2.0f, {{100, 10, 0}, {150, 1000, 0}}, 100, 10, 1},
        {"strong outside first hides the weak one", 2.0f, {{60, 1000, 0}, {100, 10, 0}}, 0, -10, 1},
        {"peaks outside the static window neither count nor raise the bar", 1.0f,
         {{5, 1e6f, 0}, {100, 10, 0}, {250, 1e6f, 0}}, 100, 10, 0},
        {"no peak in the dynamic window", 1.0f, {{150, 10, 0}}, 0, -10, 1},
        {"peaks exactly on both edges are inside", 1.0f, {{88, 10, 0}, {108, 20, 0}}, 108, 20, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Last distance 1000 cm, 0.1 s ago: window [880, 1080] cm.
        SurfaceTracker t = trackerAt(1000.0f, 1e12, 1.0, 0);
        const SectionSettings s = freeSpace(c.margin);
        t.window(s, 1e12 + 100);
        ASSERT_FLOAT_EQ(t.windowdown[0], 880.0f);
        ASSERT_FLOAT_EQ(t.windowup[0], 1080.0f);
        t.peaksOutsideDynWind = 0;
        const PeakChoice p = t.choose(s, c.peaks.data(), static_cast<int>(c.peaks.size()), 0);
        EXPECT_EQ(p.bin, c.bin);
        EXPECT_FLOAT_EQ(p.height, c.height);
        EXPECT_EQ(t.peaksOutsideDynWind, c.outside);
    }
}

TEST(SurfaceTracker, DistanceOfAPeakInFreeSpaceAndInAStillPipe) {
    SectionSettings s;
    s.fourierDistanceCm = 14.633912f;
    s.radarOffset = 20.0f;
    s.pipeCorrection = 1.0f;
    // Free space: (b + c) * fD - offset.
    EXPECT_NEAR(s.distanceOf(40, 0.25f), 40.25 * 14.633912 - 20.0, 1e-3);
    // Pipe: flange + ((b + c) * fD - (flange + offset)) * factor.
    s.distanceFromFlangeToAntennaBottom = 30.0f;
    s.pipeCorrection = 0.93064f;
    EXPECT_NEAR(s.distanceOf(40, 0.25f), 30.0 + (40.25 * 14.633912 - 50.0) * 0.93064, 1e-3);
}

TEST(SurfaceTracker, SlotsGoToTheFirstThreeSectionsAndNeverMove) {
    SurfaceTracker t;
    for (const char* s : {"radar1", "radar1", "radar0", "radar2", "radar9", "radar0"}) t.registerSection(s);
    EXPECT_EQ(t.load("radar1"), 0);
    EXPECT_EQ(t.load("radar0"), 1);
    EXPECT_EQ(t.load("radar2"), 2);
    // A fourth section keeps the window state its settings left and counts nothing.
    t.windowstd = 7.5f;
    t.lastValidTime = 123.0;
    t.peaksOutsideDynWind = 9;
    EXPECT_EQ(t.load("radar9"), -1);
    EXPECT_FLOAT_EQ(t.windowstd, 7.5f);
    EXPECT_DOUBLE_EQ(t.lastValidTime, 123.0);
    EXPECT_EQ(t.peaksOutsideDynWind, 0);
    t.update(1000, 500.0f, 0);
    EXPECT_TRUE(t.slots[0].buff.empty() && t.slots[1].buff.empty() && t.slots[2].buff.empty());
}

TEST(SurfaceTracker, StatisticsAfterValidRecords) {
    SurfaceTracker t = trackerAt(0, 0, 1.0, 0);
    // Population standard deviation of 100 and 110 is 5.
    t.update(1000, 100.0f, 0);
    EXPECT_DOUBLE_EQ(t.slots[0].stdDev, 1.0);  // one value: 0, floored
    t.update(2000, 110.0f, 0);
    EXPECT_DOUBLE_EQ(t.slots[0].stdDev, 5.0);
    EXPECT_DOUBLE_EQ(t.slots[0].lastValidTime, 2000.0);
    // Running count adds up, resets on a clean record, and saturates.
    t.update(3000, 105.0f, 2);
    t.update(4000, 105.0f, 1);
    EXPECT_EQ(t.slots[0].peaksOutsideDynWind, 3);
    t.update(5000, 105.0f, 0);
    EXPECT_EQ(t.slots[0].peaksOutsideDynWind, 0);
    t.slots[0].peaksOutsideDynWind = INT_MAX - 1;
    t.update(6000, 105.0f, 5);
    EXPECT_EQ(t.slots[0].peaksOutsideDynWind, INT_MAX);
}

TEST(SurfaceTracker, BufferKeepsTheLast3072AveragesAndTheirDeviation) {
    SurfaceTracker t = trackerAt(0, 0, 1.0, 0);
    // 3072 values alternating 90/110 (std 10), then one 500 that drops the first 90.
    for (int k = 0; k < 3072; ++k) t.update(k, k % 2 ? 110.0f : 90.0f, 0);
    EXPECT_NEAR(t.slots[0].stdDev, 10.0, 1e-9);
    t.update(5000, 500.0f, 0);
    ASSERT_EQ(t.slots[0].buff.size(), 3072u);
    EXPECT_DOUBLE_EQ(t.slots[0].buff.front(), 110.0);
    double S = 0, Q = 0;
    for (int k = 1; k < 3072; ++k) {
        const double v = k % 2 ? 110.0 : 90.0;
        S += v;
        Q += v * v;
    }
    S += 500;
    Q += 500.0 * 500.0;
    const double mean = S / 3072, expected = std::sqrt(Q / 3072 - mean * mean);
    EXPECT_NEAR(t.slots[0].stdDev, expected, 1e-6);
    // A constant surface has no spread: the floor holds.
    SurfaceTracker flat = trackerAt(0, 0, 1.0, 0);
    for (int k = 0; k < 100; ++k) flat.update(k, 1234.567f, 0);
    EXPECT_DOUBLE_EQ(flat.slots[0].stdDev, 1.0);
}
