// clock-guard with scripted clocks. Its commands never reach the real pgrep or
// killall: a recording runner, or stubs on a PATH that holds nothing else (a
// real "killall -9 java" would end the JVMs of other tests on this machine).
#include <gtest/gtest.h>

#include <syslog.h>

#include <cstdlib>
#include <deque>
#include <map>

#include "clockguard.h"
#include "harness.h"
#include "memout.h"

namespace {

constexpr int64_t S = 1'000'000'000;

// Each sleep moves the wall clock and the steady clock by the next pair of steps.
class ScriptedClocks : public GuardClocks {
public:
    std::deque<std::pair<int64_t, int64_t>> steps;
    int64_t wall = 1'700'000'000 * S;
    int64_t steady = 5000 * S;
    int64_t slept = 0;

    int64_t realtime() override { return wall; }
    int64_t monotonic() override { return steady; }
    void sleep(int64_t ns) override
    {
        slept = ns;
        wall += steps.front().first;
        steady += steps.front().second;
        steps.pop_front();
    }
};

TEST(ClockGuard, KillsOnlyWhenTheWallClockWasSet)
{
    const std::string killBoth = "pgrep java|killall -9 java \n|pgrep heave-smoother|killall -9 heave-smoother \n|";
    const struct {
        const char* what;
        double wall, steady; // seconds moved during the 10 s pause
        std::string commands;
    } rows[] = {
        {"a normal cycle", 10, 10, ""},
        {"set back 3 s", 7, 10, ""},
        {"set back 10 s", 0, 10, ""},
        {"set forward 10 s", 20, 10, ""},
        {"set forward 10.5 s", 20.5, 10, killBoth},
        {"set forward 1 h", 3610, 10, killBoth},
        {"set back 15 s", -5, 10, killBoth},
        {"set forward 11 s", 21, 10, killBoth},
        {"a check 11 s late under load", 21, 21, ""},
        {"a check 1 h late", 3610, 3610, ""},
        {"set back 15 s during a late check", 6, 21, killBoth},
    };
    for (const auto& row : rows) {
        ScriptedClocks clocks;
        clocks.steps = {{int64_t(row.wall * S), int64_t(row.steady * S)}, {10 * S, 10 * S}};
        std::string commands;
        MemoryOutput out;
        ClockGuardSettings settings;
        settings.out = out.file;
        ClockGuard guard(
            settings, clocks,
            [&](const std::string& c) {
                commands += c + "|";
                return 0;
            },
            [](int, const std::string&) {});
        EXPECT_EQ(guard.check(), !row.commands.empty()) << row.what;
        EXPECT_EQ(commands, row.commands) << row.what;
        EXPECT_EQ(clocks.slept, 10 * S);
        commands.clear();
        EXPECT_FALSE(guard.check()) << row.what << ": once per jump";
        EXPECT_EQ(commands, "") << row.what;
    }
}

TEST(ClockGuard, KillsOnlyRunningProgramsAndLogsEachKill)
{
    ScriptedClocks clocks;
    clocks.steps = {{3610 * S, 10 * S}};
    MemoryOutput out;
    ClockGuardSettings settings;
    settings.out = out.file;
    std::string commands, logged;
    // No java runs (pgrep's status 1, raw 256); heave-smoother does.
    ClockGuard guard(
        settings, clocks,
        [&](const std::string& c) {
            commands += c + "|";
            return c == "pgrep java" ? 256 : 0;
        },
        [&](int priority, const std::string& line) {
            EXPECT_EQ(priority, LOG_INFO);
            logged += line;
        });
    EXPECT_TRUE(guard.check());
    EXPECT_EQ(commands, "pgrep java|pgrep heave-smoother|killall -9 heave-smoother \n|");
    EXPECT_EQ(out.text(), "diffTime = 3610\nProcess state 256\nProcess state 0\n"
                          "heave-smoother: killall -9 heave-smoother \n\n");
    EXPECT_EQ(logged, "Process: killall -9 heave-smoother \n");

    ClockGuardSettings quiet = settings;
    quiet.quiet = true;
    MemoryOutput silent;
    quiet.out = silent.file;
    clocks.steps = {{-5 * S, 10 * S}};
    ClockGuard quietGuard(quiet, clocks, [](const std::string&) { return 0; }, [](int, const std::string&) {});
    EXPECT_TRUE(quietGuard.check());
    EXPECT_EQ(silent.text(), "");
}

TEST(ClockGuard, RunsItsCommandsThroughTheShell)
{
    testsupport::TempDir d;
    const std::string log = d.file("calls");
    // pgrep finds heave-smoother only; both stubs log their arguments.
    testsupport::writeFile(d.file("pgrep"), "#!/bin/sh\necho \"pgrep $*\" >> " + log + "\n[ \"$1\" = heave-smoother ]\n");
    testsupport::writeFile(d.file("killall"), "#!/bin/sh\necho \"killall $*\" >> " + log + "\n");
    ASSERT_EQ(chmod(d.file("pgrep").c_str(), 0755), 0);
    ASSERT_EQ(chmod(d.file("killall").c_str(), 0755), 0);
    const std::string savedPath = getenv("PATH") ? getenv("PATH") : "";
    ASSERT_EQ(setenv("PATH", d.path().c_str(), 1), 0); // nothing else can be found

    ScriptedClocks clocks;
    clocks.steps = {{3610 * S, 10 * S}};
    MemoryOutput out;
    ClockGuardSettings settings;
    settings.out = out.file;
    ClockGuard guard(settings, clocks, systemRunner, [](int, const std::string&) {});
    guard.check();
    setenv("PATH", savedPath.c_str(), 1);

    EXPECT_EQ(testsupport::readFile(log), "pgrep java\npgrep heave-smoother\nkillall -9 heave-smoother\n");
    EXPECT_NE(out.text().find("Process state 256\n"), std::string::npos) << "system()'s raw status of an exit 1";
}

TEST(ClockGuard, RefusesUnknownOptions)
{
    const struct {
        std::vector<std::string> args;
        bool runs, quiet;
    } rows[] = {
        {{"clock-guard"}, true, false},
        {{"clock-guard", "-q"}, true, true},
        {{"clock-guard", "-x"}, false, false},
    };
    for (const auto& row : rows) {
        std::vector<char*> argv;
        for (const auto& a : row.args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ClockGuardSettings settings;
        testing::internal::CaptureStderr();
        EXPECT_EQ(parseOptions(int(row.args.size()), argv.data(), &settings), row.runs);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(settings.quiet, row.quiet);
        if (!row.runs) {
            EXPECT_EQ(err, "clock-guard: invalid option -- 'x'\n  -q               -> quiet\n\n"
                           "Use: clock-guard\n bv: clock-guard -q\n\n");
        }
    }
}

} // namespace
