// The relay services as whole programs in a private namespace, on their fixed
// ports, with the configuration stand-in (5010, notices on 5011) and loopback
// peers playing the remote units, the IMU feed, the GPS compass and the radar.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <thread>

#include "harness.h"
#include "unitrelay.h"

using namespace testsupport;

namespace {

// Live processes of a program in this namespace (zombies aside).
std::vector<pid_t> processesNamed(const std::string& name)
{
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    for (dirent* e; proc != nullptr && (e = readdir(proc)) != nullptr;) {
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string pid, comm, state;
        if (stat >> pid >> comm >> state && comm == "(" + name + ")" && state != "Z")
            found.push_back(std::stoi(pid));
    }
    if (proc != nullptr)
        closedir(proc);
    return found;
}

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

    // A killed worker comes back with the same endpoints.
    ASSERT_TRUE(relay.waitForLine(startA, milliseconds(5000)));
    for (pid_t w : workersOf(relay, "unit-relay"))
        kill(w, SIGKILL);
    EXPECT_TRUE(relay.waitForLine("tcp://127.0.0.1:60", milliseconds(15000)));

    // A notice on a section whose name begins with the program's ends it all.
    std::string reply;
    ASSERT_TRUE(request("tcp://127.0.0.1:5010", R"({"set":{"unit-relay-extra":{"x":"1"}}})", &reply));
    ASSERT_TRUE(relay.wait(milliseconds(15000)));
    EXPECT_EQ(relay.exitCode(), 0);
    EXPECT_TRUE(processesNamed("unit-relay").empty());
}

TEST(UnitRelayProgram, RestartsOneWorkerPerCycleFrontFirstAndEndsOnSigint)
{
    TempDir d;
    auto cs = service(d, unitConfig, R"({"Radars":{"S1":{"ip":"127.0.0.1"}}})");
    ASSERT_TRUE(cs);
    Process relay(UNIT_RELAY_BIN, {"-q"});
    ASSERT_TRUE(relay.waitForLine(startB, milliseconds(10000)));
    std::vector<pid_t> workers;
    for (int i = 0; i < 100 && workers.size() < 2; i++, std::this_thread::sleep_for(milliseconds(50)))
        workers = workersOf(relay, "unit-relay");
    ASSERT_EQ(workers.size(), 2u);
    std::sort(workers.begin(), workers.end()); // a was forked first
    kill(workers[0], SIGKILL);
    kill(workers[1], SIGKILL);
    std::string first, second;
    ASSERT_TRUE(relay.waitForLine("tcp://", milliseconds(15000), &first));
    ASSERT_TRUE(relay.waitForLine("tcp://", milliseconds(15000), &second));
    EXPECT_EQ(first, startA);
    EXPECT_EQ(second, startB);

    relay.signalGroup(SIGINT);
    ASSERT_TRUE(relay.wait(milliseconds(15000)));
    EXPECT_EQ(relay.exitCode(), 0);
    EXPECT_TRUE(processesNamed("unit-relay").empty());
}

TEST(UnitRelayProgram, StartsNoWorkerWhenAUnitCannotBeFound)
{
    struct Case {
        std::string memory;
        int code;
    } cases[] = {
        {R"({"Radars":{"S1":{"ip":""}}})", 31},
        {R"({"Radars":{"S2":{"ip":"127.0.0.1"}}})", 32},
    };
    for (const auto& c : cases) {
        TempDir d;
        auto cs = service(d, unitConfig, c.memory);
        ASSERT_TRUE(cs);
        Process relay(UNIT_RELAY_BIN, {"-q"});
        ASSERT_TRUE(relay.wait(milliseconds(10000)));
        EXPECT_EQ(relay.exitCode(), c.code);
        EXPECT_EQ(relay.output().find("tcp://127"), std::string::npos) << relay.output();
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
    for (int i = 0; i < 100 && m != "t,h,r,p,340.000000,s,w"; i++)
        ASSERT_TRUE(outA.receiveAfter(withHeading, &m, milliseconds(10000)));
    EXPECT_EQ(m, "t,h,r,p,340.000000,s,w");
    ASSERT_TRUE(outB.receiveAfter([&] { imuB.send("t,h,r,p,y,s,w"); }, &m, milliseconds(20000)));
    EXPECT_EQ(m, "t,h,r,p,NaN,s,w");

    adjust.signalGroup(SIGINT);
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

// A "vintor" line as the radar program sends it, in a 400-byte NUL-padded frame.
std::string vintorFrame(long long t, double vdoppler)
{
    char text[400] = {};
    if (std::isnan(vdoppler))
        snprintf(text, sizeof text, "time=%lld;sensor=radar0;Vintor=NaN;Value=1", t);
    else
        snprintf(text, sizeof text, "time=%lld;sensor=radar0;Vintor=1200.000000,0.000000,200.0,%f,1,2,3,4,5,6;", t,
                 vdoppler);
    return std::string(text, sizeof text);
}

TEST(DriftMeanProgram, PublishesTheMinuteMeanOfTheRadarsVelocity)
{
    TempDir d;
    auto cs = service(d, R"({"drift-mean":{"subscriberURI":"tcp://127.0.0.1:5034","publishers":{"Vdup":"5040"}}})");
    ASSERT_TRUE(cs);
    Peer radar(zmq::socket_type::pub, "tcp://*:5034", true);
    Subscriber means("tcp://127.0.0.1:5040");
    Process drift(DRIFT_MEAN_BIN, {"-q"});
    // Lines without a value, each in a new minute, until publications come back.
    long long probe = 1699990000000;
    std::string m;
    ASSERT_TRUE(means.receiveAfter([&] { radar.send(vintorFrame(probe += 60000, NAN)); }, &m, milliseconds(20000)));

    const long long M = 1700000040000; // 460 lines in the minute before M, 8 a second
    double sum = 0;
    for (int i = 0; i < 460; i++) {
        double v = std::round(1e6 * (3.0 * std::sin(i * 0.05) + 0.25)) / 1e6;
        sum += v;
        radar.send(vintorFrame(M - 60000 + i * 125, v));
        if (i % 50 == 0)
            std::this_thread::sleep_for(milliseconds(5)); // within the sockets' queues
    }
    radar.send(vintorFrame(M, NAN));
    std::string one = "time=" + std::to_string(M - 30000) + ";sensor=sensor0;vdup_1=";
    while (m.rfind(one, 0) != 0)
        ASSERT_TRUE(means.receive(&m, milliseconds(10000))) << "no mean for the minute";
    EXPECT_NEAR(std::atof(m.substr(one.size()).c_str()), sum / 460, 1e-4);
    ASSERT_TRUE(means.receive(&m, milliseconds(5000)));
    EXPECT_EQ(m, "time=" + std::to_string(M - 300000) + ";sensor=sensor0;vdup_10=NaN;");

    // Even a supervisor killed outright takes its worker with it.
    drift.signal(SIGKILL);
    ASSERT_TRUE(drift.wait(milliseconds(5000)));
    for (int i = 0; i < 100 && !processesNamed("drift-mean").empty(); i++)
        std::this_thread::sleep_for(milliseconds(50));
    EXPECT_TRUE(processesNamed("drift-mean").empty());
}

} // namespace
