// The harness must never leave a process behind and must keep its deadlines,
// or every integration test built on it can hang or leak.
#include "harness.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <fstream>

using namespace testsupport;
using std::chrono::milliseconds;

namespace {

bool gone(pid_t pid)
{
    // A reaped process is gone; an orphan whose new parent does not reap is a zombie.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!stat || !std::getline(stat, line))
        return true;
    return line.substr(line.rfind(')') + 2, 1) == "Z";
}

} // namespace

TEST(Harness, DestructionKillsTheWholeProcessGroup)
{
    pid_t grandchild = 0;
    {
        Process p("/bin/sh", {"-c", "sleep 30 & echo $!; wait"});
        std::string line;
        ASSERT_TRUE(p.readLine(&line, milliseconds(5000)));
        grandchild = std::stoi(line);
        EXPECT_FALSE(gone(grandchild));
    }
    for (int i = 0; i < 200 && !gone(grandchild); i++)
        usleep(10000);
    EXPECT_TRUE(gone(grandchild));
}

TEST(Harness, ReadsLinesAndKeepsDeadlines)
{
    Process p("/bin/sh", {"-c", "echo first; printf 'par'; sleep 0.3; echo 'tial'; sleep 30"});
    std::string line;
    ASSERT_TRUE(p.readLine(&line, milliseconds(5000)));
    EXPECT_EQ(line, "first");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(p.readLine(&line, milliseconds(100))) << "half a line is not a line";
    EXPECT_LT(std::chrono::steady_clock::now() - t0, milliseconds(1000));
    ASSERT_TRUE(p.waitForLine("tial", milliseconds(5000), &line));
    EXPECT_EQ(line, "partial");
    EXPECT_EQ(p.output(), "first\npartial\n");
    EXPECT_FALSE(p.wait(milliseconds(50)));
    EXPECT_TRUE(p.running());
}

TEST(Harness, ReportsExitCodesAndSignals)
{
    Process code("/bin/sh", {"-c", "echo out; echo err >&2; exit 7"}, Process::Options{true, "", {}});
    ASSERT_TRUE(code.wait(milliseconds(5000)));
    EXPECT_EQ(code.exitCode(), 7);
    code.drain(milliseconds(1000));
    EXPECT_EQ(code.output(), "out\nerr\n");

    Process sleeper("/bin/sleep", {"30"});
    sleeper.signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(sleeper.wait(milliseconds(5000), &status));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(sleeper.exitCode(), -1);

    Process missing("/nonexistent/program", {});
    ASSERT_TRUE(missing.wait(milliseconds(5000)));
    EXPECT_EQ(missing.exitCode(), 127);
}
