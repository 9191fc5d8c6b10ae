#include "clockguard.h"

#include "timer.h"

#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

constexpr int64_t NS_PER_S = 1'000'000'000;

int64_t read(clockid_t id)
{
    const timespec t = readClock(id);
    return static_cast<int64_t>(t.tv_sec) * NS_PER_S + t.tv_nsec;
}

// Whole seconds, rounded down as the clock's own seconds field is.
int64_t seconds(int64_t ns)
{
    return ns >= 0 ? ns / NS_PER_S : -((-ns + NS_PER_S - 1) / NS_PER_S);
}

} // namespace

int64_t SystemClocks::realtime()
{
    return read(CLOCK_REALTIME);
}

int64_t SystemClocks::monotonic()
{
    return read(CLOCK_MONOTONIC);
}

void SystemClocks::sleep(int64_t ns)
{
    // The pauses are whole seconds: nothing is lost below a microsecond.
    sleepThroughSignals(ns / 1000);
}

int systemRunner(const std::string& command)
{
    return system(command.c_str());
}

void syslogLogger(int priority, const std::string& line)
{
    syslog(priority, "%s", line.c_str());
}

ClockGuard::ClockGuard(const ClockGuardSettings& settings, GuardClocks& clocks, Runner runner, Logger logger)
    : settings_(settings), clocks_(clocks), runner_(std::move(runner)), logger_(std::move(logger)),
      oldReal_(clocks.realtime()), oldMono_(clocks.monotonic())
{
}

bool ClockGuard::check()
{
    clocks_.sleep(settings_.periodNs);
    const int64_t real = clocks_.realtime();
    const int64_t mono = clocks_.monotonic();
    const int64_t diffTime = seconds(real) - seconds(oldReal_);
    if (!settings_.quiet) {
        fprintf(settings_.out, "diffTime = %lld\n", static_cast<long long>(diffTime));
        fflush(settings_.out);
    }
    const int64_t offset = (real - oldReal_) - (mono - oldMono_);
    const bool jumped = offset > settings_.maxOffsetNs || offset < -settings_.maxOffsetNs;
    if (jumped) {
        stop("java");
        stop("heave-smoother");
    }
    oldReal_ = real;
    oldMono_ = mono;
    return jumped;
}

void ClockGuard::stop(const char* name)
{
    const int state = runner_(std::string("pgrep ") + name);
    if (!settings_.quiet)
        fprintf(settings_.out, "Process state %d\n", state);
    if (state == 0) {
        const std::string die = std::string("killall -9 ") + name + " \n";
        if (!settings_.quiet)
            fprintf(settings_.out, "%s: %s\n", name, die.c_str());
        logger_(LOG_INFO, "Process: " + die);
        fflush(settings_.out);
        runner_(die);
    }
    fflush(settings_.out);
}

void ClockGuard::run()
{
    for (;;)
        check();
}

bool parseOptions(int argc, char** argv, ClockGuardSettings* settings)
{
    const char* name = argc > 0 && argv[0] ? argv[0] : "clock-guard";
    optind = 0;
    int option;
    while ((option = getopt(argc, argv, "q")) != -1) {
        if (option == 'q') {
            settings->quiet = true;
            continue;
        }
        fprintf(stderr, "  -q               -> quiet\n\n");
        fprintf(stderr, "Use: %s\n", name);
        fprintf(stderr, " bv: %s -q\n", name);
        fprintf(stderr, "\n");
        return false;
    }
    return true;
}
