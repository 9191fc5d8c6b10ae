#include "timer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/time.h>

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdlib>

TEST(Timer, TimeIsEpochMillisecondsAndItsTextHas13Digits)
{
    double before = std::chrono::duration<double, std::milli>(
                        std::chrono::system_clock::now().time_since_epoch()).count();
    double t = getTime();
    std::string s = getTimeToString();
    EXPECT_NEAR(t, before, 50.0);
    EXPECT_EQ(s.size(), 13u) << s;
    EXPECT_EQ(s.find_first_not_of("0123456789"), std::string::npos) << s;
    EXPECT_NEAR(std::stod(s), t, 100.0);
    std::string viaPointer;
    getTimeToString(&viaPointer);
    EXPECT_EQ(viaPointer.size(), 13u);
}

// The station runs past 2038-01-19T03:14:08Z, where a 32-bit time_t ends.
TEST(Timer, TimesPast2038KeepTheirValueThroughEveryTimeText)
{
    static_assert(sizeof(time_t) == 8, "the wall clock needs 64 bits");
    static_assert(sizeof(timeval::tv_sec) == 8 && sizeof(timespec::tv_sec) == 8, "clock reads need 64 bits");
    static_assert(sizeof(off_t) == 8, "file offsets need 64 bits");

    struct { time_t sec; suseconds_t usec; const char* text; } cases[] = {
        {INT32_MAX, 999000, "2147483647999"},
        {static_cast<time_t>(INT32_MAX) + 1, 0, "2147483648000"},
        {static_cast<time_t>(UINT32_MAX) + 1, 250000, "4294967296250"},
        {4102444800, 499, "4102444800000"}, // 2100-01-01, a sub-millisecond part rounded off
    };
    for (const auto& c : cases) {
        const timeval tv{c.sec, c.usec};
        const double ms = epochMs(tv);
        EXPECT_EQ(epochMsText(ms), c.text) << c.sec;
        // Read back as the stages read a record's time field, and written as its "%lld" text.
        const long long back = std::strtoll(c.text, nullptr, 10);
        EXPECT_EQ(back, static_cast<long long>(c.sec) * 1000 + c.usec / 1000) << c.text;
        char lld[24];
        snprintf(lld, sizeof lld, "%lld", back);
        EXPECT_STREQ(lld, c.text);
    }

    // And now: the checked clock reads agree with the C++ clock.
    const auto sys = std::chrono::system_clock::now().time_since_epoch();
    const double sysMs = std::chrono::duration<double, std::milli>(sys).count();
    EXPECT_NEAR(epochMs(wallClock()), sysMs, 1000.0);
    EXPECT_NEAR(static_cast<double>(readClock(CLOCK_REALTIME).tv_sec) * 1000.0, sysMs, 2000.0);
}

TEST(Timer, SleepsBothForms)
{
    double t0 = getTime();
    EXPECT_EQ(uSleep(30000), 0);
    double t1 = getTime();
    EXPECT_EQ(uSleep(0, 20000), 0);
    double t2 = getTime();
    EXPECT_GE(t1 - t0, 29.0);
    EXPECT_GE(t2 - t1, 19.0);
}

static void ignoreAlarm(int) {}

// SIGALRM every usec, caught without effect so that it only interrupts; again
// and again, so that a slow start of the sleep (a busy machine, an emulator)
// cannot let the only one pass before it.
static void armAlarm(long usec)
{
    struct sigaction sa = {};
    sa.sa_handler = ignoreAlarm;
    sigaction(SIGALRM, &sa, nullptr);
    struct itimerval it = {};
    it.it_value.tv_usec = usec;
    it.it_interval.tv_usec = usec;
    setitimer(ITIMER_REAL, &it, nullptr);
}

static void disarmAlarm()
{
    struct itimerval it = {};
    setitimer(ITIMER_REAL, &it, nullptr);
    signal(SIGALRM, SIG_DFL);
}

TEST(Timer, SignalCutsTheSleepShort)
{
    for (int form = 0; form < 2; form++) {
        armAlarm(50000);
        double t0 = getTime();
        int rc = form == 0 ? uSleep(5000000) : uSleep(5L, 0L);
        double elapsed = getTime() - t0;
        EXPECT_EQ(rc, -1) << "form " << form;
        EXPECT_LT(elapsed, 2000.0) << "form " << form;
    }
    disarmAlarm();
}

TEST(Timer, LongPausesDoNotOverflow)
{
    // Forty minutes in microseconds does not fit 32 bits; an interrupt ends it at once.
    armAlarm(20000);
    double t0 = getTime();
    EXPECT_EQ(uSleep(static_cast<std::int64_t>(40) * 60 * 1000000), -1);
    EXPECT_GE(getTime() - t0, 15.0) << "a wrapped count would not have slept";
    disarmAlarm();
}

TEST(Timer, SleepThroughSignalsLastsTheWholeTimeAndWholeMillisecondsRoundDown)
{
    armAlarm(10000);
    double t0 = getTime();
    sleepThroughSignals(200000);
    EXPECT_GE(getTime() - t0, 199.0) << "the alarms every 10 ms must not end it";
    disarmAlarm();
    sleepThroughSignals(-1); // nothing, and no error

    struct { time_t sec; suseconds_t usec; std::int64_t ms; } cases[] = {
        {0, 999, 0}, {1, 999999, 1999}, {static_cast<time_t>(UINT32_MAX) + 1, 250000, 4294967296250},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wholeEpochMs(timeval{c.sec, c.usec}), c.ms) << c.sec;
}
