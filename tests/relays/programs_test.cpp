// The relay programs' command lines and their answers to a faulty configuration
// service, as processes; and the workers' time-outs, shortened, through the
// libraries in a child process. Fixed ports are not used here.
#include <gtest/gtest.h>

#include <signal.h>

#include "../service-helpers/childrun.h"
#include "driftmean.h"
#include "feedbridge.h"
#include "harness.h"
#include "unitrelay.h"

using namespace testsupport;

namespace {

const char* const helpStart = "will fetch zmq messages and presents them local.";

TEST(RelayPrograms, AnswerUsageErrorsWithTheirHelp)
{
    struct Case {
        std::string program;
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {HEADING_ADJUST_BIN, {"-h"}, "  -v[int]\t\t\t-> verbose higher number is more info; defaults to 1"},
        {UNIT_RELAY_BIN, {"-x"}, "  -q\t\t\t-> quiet"},
        {FEED_BRIDGE_BIN, {"-d"}, "%s: -d needs both -s <ip>:<portnr> and -p <portnr>\n"},
        {FEED_BRIDGE_BIN, {"-d", "-s", "127.0.0.1:1"}, "%s: -d needs both -s <ip>:<portnr> and -p <portnr>\n"},
        {FEED_BRIDGE_BIN, {"-p", "6000", "-d"}, "%s: -d needs both -s <ip>:<portnr> and -p <portnr>\n"},
        {DRIFT_MEAN_BIN, {"-p", "5051"}, "\t\t%s -c 127.0.0.1:5010 -p 5051 -q"},
        {DRIFT_MEAN_BIN, {"-d"}, "No configuration connection available"},
    };
    for (auto& c : cases) {
        Process p(c.program, c.args, Process::Options{true, "", {}});
        ASSERT_TRUE(p.wait(milliseconds(10000)));
        p.drain(milliseconds(200));
        EXPECT_EQ(p.exitCode(), 1) << c.program;
        std::string expected = c.expected;
        if (expected.find("%s") != std::string::npos)
            expected.replace(expected.find("%s"), 2, c.program);
        EXPECT_NE(p.output().find(expected), std::string::npos) << c.program << ":\n" << p.output();
        // -d is an option of feed-bridge, however it is used.
        if (c.program == FEED_BRIDGE_BIN) {
            EXPECT_EQ(p.output().find("Unknown option"), std::string::npos) << p.output();
        }
    }
}

TEST(RelayPrograms, EndWhenTheConfigurationCannotBeUsed)
{
    struct Case {
        std::string reply;
        std::string program;
        int code;
        std::string message;
    } cases[] = {
        {"nonjson", HEADING_ADJUST_BIN, 30, "Failed to parse JSON\r\n"},
        {"nonjson", UNIT_RELAY_BIN, 30, ""},
        {"nonjson", FEED_BRIDGE_BIN, 30, ""},
        {"nonjson", DRIFT_MEAN_BIN, 29, ""},
        {"nosuccess", HEADING_ADJUST_BIN, 1, "Configuration not found"},
        {"nosuccess", UNIT_RELAY_BIN, 1, "Configuration not found"},
        {"nosuccess", FEED_BRIDGE_BIN, 1, "Configuration not found"},
        {"nosuccess", DRIFT_MEAN_BIN, 1, "Stopped process"}, // its worker has no feed to read
        {"", HEADING_ADJUST_BIN, 0, ""},                     // no section: no worker, nothing to do
    };
    for (auto& c : cases) {
        ConfigServiceOptions o;
        o.reply = c.reply;
        auto cs = startConfigServiceOnFreePorts(&o);
        ASSERT_TRUE(cs);
        Process p(c.program, {"-c", "127.0.0.1:" + std::to_string(o.repPort)});
        ASSERT_TRUE(p.wait(milliseconds(20000))) << c.program;
        p.drain(milliseconds(200));
        EXPECT_EQ(p.exitCode(), c.code) << c.program << " " << c.reply << ":\n" << p.output();
        EXPECT_NE(p.output().find(c.message), std::string::npos) << c.program << ":\n" << p.output();
    }
}

TEST(RelayPrograms, GiveUpOnASilentFeed)
{
    std::vector<int> ports = freePorts(2);
    relay::Timing quick{300, 200};
    BridgeSettings b;
    b.configuratorConnection.clear();
    b.subscriberURI = "127.0.0.1:" + std::to_string(ports[0]);
    b.publisherPort = ports[1];
    b.quiet = true;
    ChildResult bridge = runChild([&] { exit(processStart(b, "feed-bridge", quick)); });
    EXPECT_EQ(bridge.status, 3);

    // drift-mean ends with its worker's 3; unit-relay starts its worker again.
    TempDir d;
    writeFile(d.file("config.json"),
              R"({"drift-mean":{"subscriberURI":"tcp://127.0.0.1:)" + std::to_string(ports[0]) +
                  R"(","publishers":{"Vdup":")" + std::to_string(ports[1]) + R"("}},
        "unit-relay":{"subscribers":{"a":{"port":")" + std::to_string(ports[0]) + R"("}},
                      "publishers":{"a":")" + std::to_string(ports[1]) + R"("}}})");
    writeFile(d.file("memory.json"), R"({"Radars":{"A":{"ip":"127.0.0.1"}}})");
    ConfigServiceOptions o;
    o.config = d.file("config.json");
    o.memory = d.file("memory.json");
    auto cs = startConfigServiceOnFreePorts(&o);
    ASSERT_TRUE(cs);
    std::string c = "127.0.0.1:" + std::to_string(o.repPort);
    ChildResult drift = runChild([&] {
        const char* argv[] = {"drift-mean", "-q", "-c", c.c_str(), nullptr};
        exit(runDriftMean(4, const_cast<char**>(argv), "drift-mean", quick));
    });
    EXPECT_EQ(drift.status, 3) << drift.out;

    auto started = std::chrono::steady_clock::now();
    ChildResult unit = runChild(
        [&] {
            const char* argv[] = {"unit-relay", "-q", "-c", c.c_str(), nullptr};
            exit(runUnitRelay(4, const_cast<char**>(argv), "unit-relay", quick));
        },
        milliseconds(20000),
        [&](pid_t pid) {
            if (std::chrono::steady_clock::now() - started > milliseconds(2500))
                kill(pid, SIGTERM);
        });
    EXPECT_EQ(unit.status, 0);
    const std::string start = "tcp://127.0.0.1:" + std::to_string(ports[0]) + " tcp://*:" + std::to_string(ports[1]);
    size_t first = unit.out.find(start);
    ASSERT_NE(first, std::string::npos) << unit.out;
    EXPECT_NE(unit.out.find(start, first + 1), std::string::npos) << "not started again:\n" << unit.out;
}

} // namespace
