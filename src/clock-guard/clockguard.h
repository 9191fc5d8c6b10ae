// clock-guard: stops the Java data processor and heave-smoother when the wall
// clock jumps, so that they start again (by the unit's service manager) on the
// new time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Nanoseconds of the two clocks, and the pause between checks.
class GuardClocks {
public:
    virtual ~GuardClocks() = default;
    virtual int64_t realtime() = 0;
    virtual int64_t monotonic() = 0;
    virtual void sleep(int64_t ns) = 0;
};

// CLOCK_REALTIME, CLOCK_MONOTONIC and a sleep that resumes after signals.
class SystemClocks : public GuardClocks {
public:
    int64_t realtime() override;
    int64_t monotonic() override;
    void sleep(int64_t ns) override;
};

struct ClockGuardSettings {
    bool quiet = false;
    int64_t periodNs = 10'000'000'000;
    // Beyond this much difference between the wall clock's step and the steady
    // clock's, the wall clock was set: a late check moves both alike.
    int64_t maxOffsetNs = 10'000'000'000;
    FILE* out = stdout;
};

class ClockGuard {
public:
    // Runs a shell command and returns system()'s raw status.
    using Runner = std::function<int(const std::string& command)>;
    // Writes one syslog line.
    using Logger = std::function<void(int priority, const std::string& line)>;

    ClockGuard(const ClockGuardSettings& settings, GuardClocks& clocks, Runner runner, Logger logger);

    // One check after the pause: true when the clock jumped (the kills ran).
    bool check();
    [[noreturn]] void run();

private:
    void stop(const char* name);

    ClockGuardSettings settings_;
    GuardClocks& clocks_;
    Runner runner_;
    Logger logger_;
    int64_t oldReal_;
    int64_t oldMono_;
};

// Reads -q; any other option prints getopt's message and the help lines on
// standard error and gives false (exit status 1).
bool parseOptions(int argc, char** argv, ClockGuardSettings* settings);

// system(), and syslog at the program's facility.
int systemRunner(const std::string& command);
void syslogLogger(int priority, const std::string& line);
