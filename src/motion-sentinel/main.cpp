// motion-sentinel [-q]: raises alerts and IMU restarts from the IMU's status word.
#include "sentinel.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    SentinelOptions o;
    o.quiet = argc > 1 && strcmp(argv[1], "-q") == 0;
    return runSentinel(o);
}
