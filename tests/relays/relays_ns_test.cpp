// The relay services as whole programs in a private namespace, on their fixed
// ports, with the configuration stand-in (5010, notices on 5011) and loopback
// peers playing the remote units, the IMU feed and the GPS compass.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "harness.h"
#include "processes.h"
#include "unitrelay.h"

using namespace testsupport;

namespace {

std::vector<pid_t> workersOf(Process& p, const std::string& name)
{
    std::vector<pid_t> w = processesNamed(name);
    w.erase(std::remove(w.begin(), w.end(), p.pid()), w.end());
    return w;
}

struct Peer {
    zmq::context_t context{1};
    zmq::socket_t socket;
    Peer(zmq::socket_type type, const std::string& endpoint, bool bind) : socket(context, type)
    {
        socket.set(zmq::sockopt::linger, 0);
        bind ? socket.bind(endpoint) : socket.connect(endpoint);
    }
    void send(const std::string& m) { socket.send(zmq::buffer(m), zmq::send_flags::dontwait); }
};

std::string binaryFrame(size_t size)
{
    std::string f(size, '\0');
    for (size_t i = 0; i < size; i++)
        f[i] = static_cast<char>((i * 7919) % 251); // NULs and high bytes throughout
    return f;
}

std::unique_ptr<Process> service(const TempDir& d, const std::string& config, const std::string& memory = "{}")
{
    writeFile(d.file("config.json"), config);
    writeFile(d.file("memory.json"), memory);
    ConfigServiceOptions o;
    o.config = d.file("config.json");
    o.memory = d.file("memory.json");
    o.requestLog = d.file("requests.log");
    return startConfigService(o);
}

const std::string unitConfig = R"({"configurator":{"publishers":{"alert":"5011"}},
  "vintor-dir":{"Configuration":{"sel":"S1"}},
  "unit-relay":{"subscribers":{"a":{"port":"6001","serialSelector":"sel"},"b":{"port":"6002","serialSelector":"sel"}},
                "publishers":{"a":"6101","b":"6102"}}})";
const std::string startA = "tcp://127.0.0.1:6001 tcp://*:6101", startB = "tcp://127.0.0.1:6002 tcp://*:6102";

TEST(UnitRelayProgram, RelaysWholeFramesAndEndsOnANotice)
{
    TempDir d;
    auto cs = service(d, unitConfig, R"({"Radars":{"S1":{"ip":"127.0.0.1"}}})");
    ASSERT_TRUE(cs);
    Peer remote(zmq::socket_type::pub, "tcp://*:6001", true);
    Subscriber local("tcp://127.0.0.1:6101");
    Process relay(UNIT_RELAY_BIN, {"-q"});
    std::string m;
    ASSERT_TRUE(local.receiveAfter([&] { remote.send("probe"); }, &m, milliseconds(20000)));
    const std::vector<size_t> sizes = {0, 4168, 8092, 17248};
    for (size_t s : sizes)
        remote.send(binaryFrame(s));
    size_t next = 0;
    while (next < sizes.size() && local.receive(&m, milliseconds(5000))) {
        if (m == "probe")
            continue;
        EXPECT_EQ(m, binaryFrame(sizes[next])) << sizes[next];
        next++;
    }
    EXPECT_EQ(next, sizes.size());
    EXPECT_EQ(readRequestLog(d.file("requests.log")),
              (std::vector<std::string>{relay::requestText("unit-relay", true), radarsRequest}));

    // A notice on a section whose name begins with the program's ends it all.
    std::string reply;
    ASSERT_TRUE(request("tcp://127.0.0.1:5010", R"({"set":{"unit-relay-extra":{"x":"1"}}})", &reply));
    ASSERT_TRUE(relay.wait(milliseconds(15000)));
    EXPECT_EQ(relay.exitCode(), 0);
    EXPECT_TRUE(processesNamed("unit-relay").empty());
}

TEST(UnitRelayProgram, RestartsOneWorkerPerCycleFrontFirstAndOutlivesSigint)
{
    TempDir d;
    auto cs = service(d, unitConfig, R"({"Radars":{"S1":{"ip":"127.0.0.1"}}})");
    ASSERT_TRUE(cs);
    Process relay(UNIT_RELAY_BIN, {"-q"});
    // Each worker prints its own start line: in either order.
    std::string line;
    for (int seen = 0; seen < 2;) {
        ASSERT_TRUE(relay.readLine(&line, milliseconds(10000)));
        seen += line == startA || line == startB;
    }
    std::vector<pid_t> workers;
    for (int i = 0; i < 100 && workers.size() < 2; i++, std::this_thread::sleep_for(milliseconds(50)))
        workers = workersOf(relay, "unit-relay");
    ASSERT_EQ(workers.size(), 2u);
    // Both end while the supervisor is held, so its next walk finds both ended.
    relay.signal(SIGSTOP);
    kill(workers[0], SIGKILL);
    kill(workers[1], SIGKILL);
    for (int i = 0; i < 100 && !workersOf(relay, "unit-relay").empty(); i++)
        std::this_thread::sleep_for(milliseconds(50));
    relay.signal(SIGCONT);
    std::string first, second;
    ASSERT_TRUE(relay.waitForLine("tcp://", milliseconds(15000), &first));
    ASSERT_TRUE(relay.waitForLine("tcp://", milliseconds(15000), &second));
    EXPECT_EQ(first, startA);
    EXPECT_EQ(second, startB);

    // SIGINT to the whole group ends the workers' loops; the supervisor starts
    // them again and goes on, until SIGTERM ends it all with 0.
    workers = workersOf(relay, "unit-relay");
    relay.signalGroup(SIGINT);
    ASSERT_TRUE(relay.waitForLine("tcp://", milliseconds(15000), &first));
    ASSERT_TRUE(relay.waitForLine("tcp://", milliseconds(15000), &second));
    EXPECT_EQ(first, startA);
    EXPECT_EQ(second, startB);
    EXPECT_TRUE(relay.running());
    std::vector<pid_t> restarted;
    for (int i = 0; i < 100 && restarted.size() < 2; i++, std::this_thread::sleep_for(milliseconds(50)))
        restarted = workersOf(relay, "unit-relay");
    ASSERT_EQ(restarted.size(), 2u);
    for (pid_t w : restarted)
        EXPECT_EQ(std::count(workers.begin(), workers.end(), w), 0) << "a worker outlived SIGINT";
    relay.signal(SIGTERM);
    ASSERT_TRUE(relay.wait(milliseconds(15000)));
    EXPECT_EQ(relay.exitCode(), 0);
    EXPECT_TRUE(processesNamed("unit-relay").empty());
}

TEST(UnitRelayProgram, StartsNoWorkerWhenAUnitCannotBeFound)
{
    struct Case {
        std::string memory;
        int code;
        std::string said; // even when quiet
    } cases[] = {
        {R"({"Radars":{"S1":{"ip":""}}})", 31, ""},
        {R"({"Radars":{"S2":{"ip":"127.0.0.1"}}})", 32, "No unit S1 found in memory branch \"Radars\"\n"},
        {R"({"Units":{"S1":{"ip":"127.0.0.1"}}})", 32, "No memory branch \"Radars\" found\n"},
    };
    for (const auto& c : cases) {
        TempDir d;
        auto cs = service(d, unitConfig, c.memory);
        ASSERT_TRUE(cs);
        Process relay(UNIT_RELAY_BIN, {"-q"});
        ASSERT_TRUE(relay.wait(milliseconds(10000)));
        relay.drain(milliseconds(100));
        EXPECT_EQ(relay.exitCode(), c.code);
        EXPECT_EQ(relay.output(), c.said) << c.memory;
        EXPECT_TRUE(processesNamed("unit-relay").empty());
    }
}

TEST(HeadingAdjustProgram, PutsTheCompassHeadingIntoTheLines)
{
    TempDir d;
    auto cs = service(d, R"({"heading-adjust":{"subscribers":{"a":"127.0.0.1:6201","b":"127.0.0.1:6202"},
        "publishers":{"a":"6301","b":"6302"},"pull":{"heading":"127.0.0.1:6400"},"RadarXaxisToHeadingRef":"10"}})");
    ASSERT_TRUE(cs);
    Peer imuA(zmq::socket_type::pub, "tcp://*:6201", true), imuB(zmq::socket_type::pub, "tcp://*:6202", true);
    Subscriber outA("tcp://127.0.0.1:6301"), outB("tcp://127.0.0.1:6302");
    Process adjust(HEADING_ADJUST_BIN, {});
    EXPECT_TRUE(adjust.waitForLine("feeds b carry NaN headings", milliseconds(10000)));
    std::string m;
    ASSERT_TRUE(outA.receiveAfter([&] { imuA.send("1,2,3,4,5,6,7,8"); }, &m, milliseconds(20000)));
    EXPECT_EQ(m, "1,2,3,4,NaN,6,7");

    Peer compass(zmq::socket_type::push, "tcp://127.0.0.1:6400", false);
    compass.send("time=1700000000000;sensor=gps0;heading=100deg"); // (90 - 100) - 10 = -20
    auto withHeading = [&] {
        imuA.send("1,2,3");  // too short: skipped, the worker goes on
        imuA.send("t,h,r,p,y,s,w");
    };
    // The compass connects while lines flow, and a loaded machine can take longer
    // to make that connection than the worker takes for many lines: lines are
    // read until one carries the heading, however many come first, and only a
    // deadline ends the wait.
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(60000);
    while (m != "t,h,r,p,340.000000,s,w" && std::chrono::steady_clock::now() < deadline) {
        if (!outA.receiveAfter(withHeading, &m, milliseconds(20000))) {
            adjust.drain(milliseconds(100));
            FAIL() << "feed a fell silent; heading-adjust printed:\n" << adjust.output();
        }
    }
    EXPECT_EQ(m, "t,h,r,p,340.000000,s,w");
    ASSERT_TRUE(outB.receiveAfter([&] { imuB.send("t,h,r,p,y,s,w"); }, &m, milliseconds(20000)));
    EXPECT_EQ(m, "t,h,r,p,NaN,s,w");

    adjust.signal(SIGTERM);
    ASSERT_TRUE(adjust.wait(milliseconds(15000)));
    EXPECT_EQ(adjust.exitCode(), 0);
    EXPECT_TRUE(processesNamed("heading-adjust").empty());
}

TEST(FeedBridgeProgram, RelaysFromTheCommandLineOrTheConfiguration)
{
    TempDir d;
    auto cs = service(d, R"({"feed-bridge":{"publishers":{"proxyto":"6602"},"subscribers":{"proxyfrom":"127.0.0.1:6502"}}})");
    ASSERT_TRUE(cs);
    struct Case {
        std::vector<std::string> args;
        std::string in, out;
    } cases[] = {
        {{"-d", "-s", "127.0.0.1:6501", "-p", "6601", "-q"}, "tcp://*:6501", "tcp://127.0.0.1:6601"},
        {{"-q"}, "tcp://*:6502", "tcp://127.0.0.1:6602"},
    };
    for (const auto& c : cases) {
        Peer feed(zmq::socket_type::pub, c.in, true);
        Subscriber out(c.out);
        Process bridge(FEED_BRIDGE_BIN, c.args);
        std::string m;
        const std::string record = binaryFrame(17248);
        ASSERT_TRUE(out.receiveAfter([&] { feed.send(record); }, &m, milliseconds(20000)));
        EXPECT_EQ(m, record);
        bridge.signal(SIGINT);
        ASSERT_TRUE(bridge.wait(milliseconds(10000)));
        EXPECT_EQ(bridge.exitCode(), 0);
    }
}

// Without a "feed-bridge" section the defaults hold: from 127.0.0.1:5050 to 5051.
TEST(FeedBridgeProgram, WithoutItsSectionRelaysFrom5050To5051)
{
    TempDir d;
    auto cs = service(d, R"({"configurator":{"version":"1"}})");
    ASSERT_TRUE(cs);
    Peer feed(zmq::socket_type::pub, "tcp://*:5050", true);
    Subscriber out("tcp://127.0.0.1:5051");
    Process::Options o;
    o.mergeStderr = true;
    Process bridge(FEED_BRIDGE_BIN, {}, o);
    std::string m;
    const std::string record = binaryFrame(1624);
    ASSERT_TRUE(out.receiveAfter([&] { feed.send(record); }, &m, milliseconds(20000)))
        << (bridge.drain(milliseconds(100)), bridge.output());
    EXPECT_EQ(m, record);
    EXPECT_TRUE(bridge.waitForLine("Starting publisher: tcp://*:5051", milliseconds(1000)));
    bridge.signal(SIGINT);
    ASSERT_TRUE(bridge.wait(milliseconds(10000)));
    EXPECT_EQ(bridge.exitCode(), 0);
}

TEST(FeedBridgeProgram, AnInputEndpointThatIsNoneEndsItWithOneNotAnAbort)
{
    Process::Options o;
    o.mergeStderr = true;
    Process bridge(FEED_BRIDGE_BIN, {"-d", "-s", "nohost", "-p", "6999", "-q"}, o);
    ASSERT_TRUE(bridge.wait(milliseconds(10000)));
    EXPECT_EQ(bridge.exitCode(), 1);
    bridge.drain(milliseconds(100));
    EXPECT_NE(bridge.output().find("feed-bridge subscriber tcp://nohost: Invalid argument"), std::string::npos)
        << bridge.output();
}

} // namespace


