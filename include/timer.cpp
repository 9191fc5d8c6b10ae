#include "timer.h"

#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

[[noreturn]] void clockFailed(const char* call)
{
    perror(call);
    fflush(nullptr);
    // Not exit(): a forked stage must not run its parent's exit handlers.
    _exit(1);
}

} // namespace

timeval wallClock()
{
    timeval tv;
    if (gettimeofday(&tv, nullptr) != 0)
        clockFailed("gettimeofday");
    return tv;
}

timespec readClock(clockid_t id)
{
    timespec ts;
    if (clock_gettime(id, &ts) != 0)
        clockFailed("clock_gettime");
    return ts;
}

double epochMs(const timeval& tv)
{
    return tv.tv_usec / 1000.0 + tv.tv_sec * 1000.0;
}

std::string epochMsText(double ms)
{
    char buf[30];
    snprintf(buf, sizeof buf, "%.0f", ms);
    return buf;
}

double getTime()
{
    return epochMs(wallClock());
}

void getTimeToString(std::string* S)
{
    *S = epochMsText(getTime());
}

std::string getTimeToString()
{
    std::string s;
    getTimeToString(&s);
    return s;
}

int uSleep(std::int64_t usec)
{
    struct timeval tv;
    tv.tv_sec = static_cast<time_t>(usec / 1000000);
    tv.tv_usec = static_cast<suseconds_t>(usec % 1000000);
    return select(0, nullptr, nullptr, nullptr, &tv);
}

int uSleep(long sec, long usec)
{
    struct timeval tv;
    tv.tv_sec = sec;
    tv.tv_usec = usec;
    return select(0, nullptr, nullptr, nullptr, &tv);
}

void sleepThroughSignals(std::int64_t us)
{
    if (us <= 0)
        return;
    timespec left{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
