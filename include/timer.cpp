#include "timer.h"

#include <sys/select.h>
#include <sys/time.h>

#include <cstdio>

double getTime()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return tv.tv_usec / 1000.0 + tv.tv_sec * 1000.0;
}

void getTimeToString(std::string* S)
{
    char buf[30];
    snprintf(buf, sizeof buf, "%.0f", getTime());
    *S = buf;
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
