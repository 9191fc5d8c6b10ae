// Brand choice, sweep pacing over a simulated clock, and the made-up sweep.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "frontend.h"
#include "pid.h"
#include "radar.h"

TEST(BrandChoice, PicksTheFirstCaseSensitiveMatchInItsOrder) {
    struct Case {
        std::string text;
        int brand;
        std::string shown;
    } cases[] = {
        {"siversima", SIVERSIMA, "siversima"},
        {"Siversima", ENRAF, "enraf"},
        {"", ENRAF, "enraf"},
        {"readfile+tarnix", READFILE, "readfile+tarnix"},
        {"xsiversimax readudp", SIVERSIMA, "xsiversimax readudp"},
        {"tarnix", TARNIX, "tarnix"},
        {"readudp", READUDP, "readudp"},
        {"tarnix readudp", READUDP, "tarnix readudp"},
        {"serial", ENRAF, "enraf"},
    };
    for (auto c : cases) {
        std::string t = c.text;
        EXPECT_EQ(chooseBrand(&t), c.brand) << c.text;
        EXPECT_EQ(t, c.shown) << c.text;
    }
}

TEST(Pacing, IntervalIsCappedAndNudgedTowardThePhase) {
    const int64_t base = 1700000000000LL;  // a multiple of 1000, 250 and 2000
    struct Case {
        int64_t mt, ptime, scanspeed, timeoffset, difftime;
        double phase;
    } cases[] = {
        {base + 5, base + 5 - 5000, 250, 5, 1000, 5},      // capped at 1000
        {base + 5, base + 5 - 5000, 1000, 5, 2000, 5},     // a period of 1000 may be seen whole
        {base + 5, base + 5 - 9000, 2000, 5, 4000, 5},
        {base + 5, base + 105, 1000, 5, -100, 5},          // no lower bound
        {base + 990, base - 10, 1000, 5, 999, 990},        // early for the next period
        {base + 300, base - 700, 1000, 5, 1001, 300},      // late
        {base + 4, base - 996, 1000, 5, 1000, 4},          // inside the window: on time
        {base + 5, base - 995, 1000, 5, 1000, 5},
        {base + 6, base - 994, 1000, 5, 1000, 6},
        {base + 3, base - 997, 1000, 5, 999, 3},           // before the wanted phase
        {base + 990, base - 10, 1000, 500, 1001, 990},     // late with a large offset
    };
    for (const auto& c : cases) {
        double val = -1;
        EXPECT_EQ(pacingInterval(c.mt, c.ptime, c.scanspeed, c.timeoffset, &val), c.difftime)
            << c.mt - base << " " << c.scanspeed << " " << c.timeoffset;
        EXPECT_EQ(val, c.phase);
    }
}

// A period or an offset at the ends of its type (what "99999999999999999999"
// reads as) keeps its meaning: a period too long to double is not capped, an
// offset beyond every phase is always ahead of or behind the sweep.
TEST(Pacing, PeriodsAndOffsetsAtTheEndsOfTheirTypeKeepTheirMeaning) {
    const int64_t base = 1700000000000LL;
    const int64_t max = INT64_MAX, min = INT64_MIN;
    struct Case {
        int64_t mt, ptime, scanspeed, timeoffset, difftime;
    } cases[] = {
        {base + 5, 0, max, 5, base + 6},              // uncapped, late within the period
        {base + 5, 0, max / 2 + 1, 5, base + 6},
        {base + 5, 0, max / 2, 5, base + 6},
        {base + 300, base - 700, 1000, max, 999},      // before the wanted phase
        {base + 300, base - 700, 1000, max - 1, 999},
        {base + 300, base - 700, 1000, min, 1001},     // late
        {base + 990, base - 10, 1000, min, 999},       // early for the next period
        {base + 300, base - 700, 1000, min + 1, 1001},
        {base + 5, 0, max, max, base + 4},
        {base + 5, 0, max, min, base + 6},
    };
    for (const auto& c : cases) {
        double val = -1;
        EXPECT_EQ(pacingInterval(c.mt, c.ptime, c.scanspeed, c.timeoffset, &val), c.difftime)
            << c.mt - base << " " << c.scanspeed << " " << c.timeoffset;
        EXPECT_EQ(val, double(c.mt % c.scanspeed));
    }
    // The controller chases such a period with its largest step.
    PID pid(1.0, 100.0, -100.0, 0.45, 0.02, 0.01);
    Pacing p;
    int64_t mt = base;
    for (int64_t wait : {300, 400, 500}) {
        EXPECT_EQ(paceStep(mt, max, max, &p, &pid), wait);
        mt += wait;
    }
    EXPECT_EQ(fakeSleepFor(LONG_MAX, 30), LONG_MAX - 30);
    EXPECT_EQ(fakeSleepFor(LONG_MAX, -30), LONG_MAX);  // a clock stepped back
}

TEST(Pacing, StepAddsTheControllerOutputAndKeepsTenMillisecondsAtLeast) {
    const int64_t base = 1700000000000LL;
    PID pid(1.0, 100.0, -100.0, 0.45, 0.02, 0.01);
    Pacing p;
    // Error 10 on a fresh controller gives 0.1 + 4.5 + 0.2 = 4.8; 200 + 4.8 truncates to 204.
    EXPECT_EQ(paceStep(base + 5, 1000, 5, (p.ptime = base + 5 - 990, &p), &pid), 204);
    EXPECT_EQ(p.ptime, base + 5);

    PID fast(1.0, 100.0, -100.0, 0.45, 0.02, 0.01);
    Pacing q;
    q.waittime = 15;
    q.ptime = base + 5 - 1000;
    EXPECT_EQ(paceStep(base + 5, 250, 5, &q, &fast), 10);  // 15 - 100 floors at 10
}

namespace {

// Runs the pacing over a clock where each sweep takes sweepMs after the pause.
struct PacingRun {
    int64_t lastInterval = 0;
    int64_t maxWait = 0;
    int64_t worstIntervalError = 0;  // over the last 200 sweeps
    int64_t worstPhaseError = 0;     // likewise, cyclic
};

PacingRun simulate(int64_t scanspeed, int64_t timeoffset, int64_t sweepMs, int sweeps) {
    PID pid(1.0, 100.0, -100.0, 0.45, 0.02, 0.01);
    Pacing p;
    PacingRun r;
    int64_t mt = 1700000000123LL;
    int64_t prev = 0;
    for (int k = 0; k < sweeps; ++k) {
        int64_t wait = paceStep(mt, scanspeed, timeoffset, &p, &pid);
        r.maxWait = std::max(r.maxWait, wait);
        prev = mt;
        mt += wait + sweepMs;
        if (k >= sweeps - 200) {
            int64_t interval = mt - prev;
            r.worstIntervalError = std::max(r.worstIntervalError, int64_t(std::llabs(interval - scanspeed)));
            int64_t d = ((mt % scanspeed) - timeoffset + scanspeed) % scanspeed;
            r.worstPhaseError = std::max(r.worstPhaseError, std::min(d, scanspeed - d));
        }
        r.lastInterval = mt - prev;
    }
    return r;
}

}  // namespace

TEST(Pacing, ConvergesOnThePeriodAndPhaseWithoutRunningAway) {
    struct Case {
        int64_t scanspeed, timeoffset, sweepMs;
    } cases[] = {
        {250, 5, 100}, {250, 100, 30}, {500, 5, 300}, {1000, 5, 300}, {1000, 5, 700},
        {1000, 500, 300}, {2000, 5, 300}, {2000, 500, 700},
    };
    for (const auto& c : cases) {
        PacingRun r = simulate(c.scanspeed, c.timeoffset, c.sweepMs, 3000);
        std::string what = std::to_string(c.scanspeed) + "/" + std::to_string(c.timeoffset) + "/" +
                           std::to_string(c.sweepMs);
        EXPECT_LE(r.worstIntervalError, 3) << what;
        EXPECT_LE(r.worstPhaseError, 3) << what;
        EXPECT_LT(r.maxWait, c.scanspeed + 200) << what << ": the pause ran away";
    }
}

TEST(FakeSweeps, PatternAndPause) {
    radar_st r{};
    fillFakeSweep(&r);
    EXPECT_EQ(r.length, 1024);
    struct {
        int i, byte;
    } bytes[] = {{0, 0}, {254, 254}, {255, 0}, {256, 1}, {510, 0}, {1023, 3}};
    for (auto b : bytes) EXPECT_EQ(static_cast<unsigned char>(r.data.com[b.i]), b.byte) << b.i;
    EXPECT_EQ(fakeSleepFor(1000, 30), 970);
    EXPECT_EQ(fakeSleepFor(1000, 1200), 100);
    EXPECT_EQ(fakeSleepFor(0, 0), 100);
}
