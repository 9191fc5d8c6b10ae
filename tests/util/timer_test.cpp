#include "timer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/time.h>

#include <chrono>
#include <cmath>

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
