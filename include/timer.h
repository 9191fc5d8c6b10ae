// Wall-clock time in epoch milliseconds and interruptible sleeps.
#pragma once

#include <cstdint>
#include <string>

// Now, in milliseconds since the Unix epoch, sub-millisecond part kept.
double getTime();

// Now as epoch-millisecond text, rounded, no decimals (13 digits today).
void getTimeToString(std::string* S);
std::string getTimeToString();

// Sleeps; a signal ends the wait early and the result is then -1.
// The count is 64-bit everywhere so long pauses do not overflow on 32-bit targets.
int uSleep(std::int64_t usec);
int uSleep(long sec, long usec);
