// clock-guard [-q]: stops the data processor and heave-smoother when the wall clock jumps.
#include <syslog.h>
#include <unistd.h>

#include "clockguard.h"

int main(int argc, char** argv)
{
    openlog(argc > 0 && argv[0] ? argv[0] : "clock-guard", LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);
    syslog(LOG_NOTICE, "Program started in daemon by user %d", static_cast<int>(getuid()));
    ClockGuardSettings settings;
    if (!parseOptions(argc, argv, &settings))
        return 1;
    SystemClocks clocks;
    ClockGuard guard(settings, clocks, systemRunner, syslogLogger);
    guard.run();
}
