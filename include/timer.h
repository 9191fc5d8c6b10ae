// Wall-clock time in epoch milliseconds and interruptible sleeps.
#pragma once

#include <sys/time.h>
#include <time.h>

#include <cstdint>
#include <string>

// Clock reads that cannot fail unnoticed: a clock that cannot be read (a
// 32-bit time past 2038, a clock the kernel lacks) ends the program with a
// message and status 1 rather than hand an unset value on as a time that
// every record would then carry; the restart reads it again.
timeval wallClock();
timespec readClock(clockid_t id);

// Epoch milliseconds of a wall-clock reading, and their text as
// getTimeToString writes it.
double epochMs(const timeval& tv);
std::string epochMsText(double ms);

// Now, in milliseconds since the Unix epoch, sub-millisecond part kept.
double getTime();

// Now as epoch-millisecond text, rounded, no decimals (13 digits today).
void getTimeToString(std::string* S);
std::string getTimeToString();

// Sleeps; a signal ends the wait early and the result is then -1.
// The count is 64-bit everywhere so long pauses do not overflow on 32-bit targets.
int uSleep(std::int64_t usec);
int uSleep(long sec, long usec);

// Sleeps the whole time however many signals arrive meanwhile; nothing for a
// time of 0 or less.
void sleepThroughSignals(std::int64_t us);

// Milliseconds since the Unix epoch of a wall-clock reading, rounded down.
inline std::int64_t wholeEpochMs(const timeval& tv)
{
    return static_cast<std::int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}
