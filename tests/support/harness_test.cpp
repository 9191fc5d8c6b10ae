// The harness must never leave a process behind and must keep its deadlines,
// or every integration test built on it can hang or leak.
#include "harness.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>

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
    Process p("/bin/sh", {"-c", "echo first; printf 'par'; sleep 5; echo 'tial'; sleep 30"});
    std::string line;
    ASSERT_TRUE(p.readLine(&line, milliseconds(5000)));
    EXPECT_EQ(line, "first");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(p.readLine(&line, milliseconds(100))) << "half a line is not a line";
    EXPECT_LT(std::chrono::steady_clock::now() - t0, milliseconds(4000));
    ASSERT_TRUE(p.waitForLine("tial", milliseconds(15000), &line));
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

// Ports of the ephemeral range can be taken by any outgoing connection of a
// parallel test between the probe and the bind of the program under test.
TEST(Harness, FreePortsAreDistinctBindableAndBelowTheEphemeralRange)
{
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 32768;
    range >> low;
    std::vector<int> ports = freePorts(20);
    ASSERT_EQ(ports.size(), 20u);
    std::set<int> distinct(ports.begin(), ports.end());
    EXPECT_EQ(distinct.size(), ports.size());
    for (int port : ports) {
        EXPECT_GE(port, 1024);
        EXPECT_LT(port, low);
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << port;
        close(fd);
    }
}
