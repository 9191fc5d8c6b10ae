// tilt-average as a whole program: the configuration stand-in on free ports
// (-c), a raw IMU feed published by the test, files in a temporary directory.
#include "childrun.h"
#include "harness.h"
#include "service.h"

#include <gtest/gtest.h>
#include <zmq.hpp>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>

using namespace testsupport;

namespace {

class TiltProgram : public ::testing::Test {
protected:
    void start(const std::string& reply = "")
    {
        feedPort = freePort();
        std::remove(dir.file("requests.log").c_str());
        writeFile(dir.file("station.json"), R"({"tilt-average":{"fileNameFast":")" + dir.file("fast.txt") +
                                                R"(","fileNameLong":")" + dir.file("long.txt") +
                                                R"("},"RTIMULibDrive":{"publishers":{"rawIMU-pub":")" +
                                                std::to_string(feedPort) + R"("}}})");
        options.config = dir.file("station.json");
        options.requestLog = dir.file("requests.log");
        options.reply = reply;
        service = startConfigServiceOnFreePorts(&options);
        ASSERT_TRUE(service);
    }
    // Runs the program and sends lines once it has subscribed.
    Finished run(std::vector<std::string> args, const std::vector<std::string>& lines = {})
    {
        args.insert(args.begin(), {"-c", std::to_string(options.repPort)});
        Process::Options merged;
        merged.mergeStderr = true;
        Process p(TILT_AVERAGE_BIN, args, merged);
        // Bound only now, so that no ZeroMQ thread runs when a test forks.
        if (!lines.empty()) {
            Publisher feed(feedPort);
            EXPECT_TRUE(feed.subscribed(milliseconds(15000)));
            for (const auto& line : lines)
                feed.send(line);
            p.drain(milliseconds(20000));
        }
        p.drain(milliseconds(20000));
        p.wait(milliseconds(2000));
        return {p.exitCode(), p.output()};
    }
    std::vector<std::string> requests() { return readRequestLog(options.requestLog); }

    TempDir dir;
    ConfigServiceOptions options;
    std::unique_ptr<Process> service;
    int feedPort = 0;
};

const char* const GET = R"({"get":{"tilt-average":"","RTIMULibDrive":""}})";

TEST_F(TiltProgram, StoresTheRoundedMeanTiltOfTheWindowInMemoryAndFile)
{
    start();
    // Tilts of 0, 90 and 10 degrees: mean 33.33, rounded 33.3, which as a float
    // is 33.2999992 and so prints as 33.299999.
    Finished f = run({"-q"}, {"1,0,1,0", "2,1,0,0", "3,0.173648178,0.984807753,0"});
    EXPECT_EQ(f.code, 0);
    EXPECT_EQ(f.out, "");
    EXPECT_EQ(readFile(dir.file("fast.txt")), "33.299999");
    EXPECT_EQ(requests(), (std::vector<std::string>{GET, R"({"setmem":{"system":{"tilt":{"fast":"33.299999"}}}})"}));
    std::string memory;
    ASSERT_TRUE(request("tcp://127.0.0.1:" + std::to_string(options.repPort), R"({"getmem":{"system":""}})", &memory));
    EXPECT_EQ(memory, R"({"success":{"system":{"tilt":{"fast":"33.299999"}}}})");
}

TEST_F(TiltProgram, AWindowWithoutLinesStoresNan)
{
    start();
    Finished f = run({"-t", "fast"});
    EXPECT_EQ(f.code, 0);
    EXPECT_NE(f.out.find("ZMQ Connected: tcp://127.0.0.1:" + std::to_string(feedPort) + "\n"), std::string::npos);
    EXPECT_EQ(readFile(dir.file("fast.txt")), "nan");
    EXPECT_EQ(requests().back(), R"({"setmem":{"system":{"tilt":{"fast":"nan"}}}})");
}

TEST_F(TiltProgram, RefusesBadInputWithItsMessageAndStatus)
{
    const struct {
        const char* reply; // of the stand-in
        std::vector<std::string> args;
        const char* line;  // sent on the feed, if any
        int code;
        const char* says;
        size_t requests;
    } rows[] = {
        {"", {"-t", "x"}, nullptr, 1, "Error: Wrong typeCalc parameter\n", 1},
        {"nosuccess", {}, nullptr, 1, "Configuration not found\n", 1},
        {"nonjson", {}, nullptr, 3, "", 1},
        {"", {"-q"}, "1,a,b,c", 5, "Error: wrong string received (1,a,b,c)", 1},
        {"", {"-q"}, "1,2,3", 5, "Error: wrong string received (1,2,3)", 1},
        {"", {"-q", "-z"}, nullptr, 1, "Unknown option `-z'.\n  -c <portnr>    -> configurator portnumber", 0},
    };
    for (const auto& r : rows) {
        start(r.reply);
        Finished f = run(r.args, r.line ? std::vector<std::string>{r.line} : std::vector<std::string>{});
        EXPECT_EQ(f.code, r.code) << f.out;
        EXPECT_NE(f.out.find(r.says), std::string::npos) << f.out;
        EXPECT_EQ(requests().size(), r.requests);
        EXPECT_FALSE(std::ifstream(dir.file("fast.txt")).good());
        service.reset();
    }
    Finished f = runToEnd(TILT_AVERAGE_BIN, {"-c", "50x"}, true);
    EXPECT_EQ(f.code, 1);
    EXPECT_EQ(f.out, "Error: wrong port number (50x)\n");
}

// A service that answers the settings request and then a text that is not JSON.
class SpoiledStore {
public:
    SpoiledStore(int port, std::string settings) : settings_(std::move(settings))
    {
        socket_.bind("tcp://127.0.0.1:" + std::to_string(port));
        thread_ = std::thread([this] {
            for (int n = 0; !done_;) {
                zmq::pollitem_t item{socket_.handle(), 0, ZMQ_POLLIN, 0};
                zmq::message_t m;
                if (zmq::poll(&item, 1, std::chrono::milliseconds(50)) > 0 && socket_.recv(m))
                    socket_.send(zmq::buffer(n++ == 0 ? settings_ : std::string("stored?")), zmq::send_flags::none);
            }
        });
    }
    ~SpoiledStore()
    {
        done_ = true;
        thread_.join();
    }

private:
    std::string settings_;
    zmq::context_t context_{1};
    zmq::socket_t socket_{context_, zmq::socket_type::rep};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

TEST_F(TiltProgram, AStoreReplyThatIsNotJsonLeavesTheFileUnwritten)
{
    const int port = freePort();
    const int imuPort = freePort();
    SpoiledStore store(port, R"({"success":{"tilt-average":{"fileNameFast":")" + dir.file("fast.txt") +
                                 R"("},"RTIMULibDrive":{"publishers":{"rawIMU-pub":")" + std::to_string(imuPort) +
                                 R"("}}}})");
    Finished f = runToEnd(TILT_AVERAGE_BIN, {"-q", "-c", std::to_string(port)});
    EXPECT_EQ(f.code, 3);
    EXPECT_FALSE(std::ifstream(dir.file("fast.txt")).good());
}

TEST_F(TiltProgram, ALongMeasurementIsStoredUnderLongAndInItsOwnFile)
{
    start();
    TiltOptions o;
    o.port = options.repPort;
    o.type = 'l';
    o.longWindow = 1;
    o.quiet = true;
    ChildResult r = runChild([&] {
        int code = runTiltAverage(o);
        fflush(stdout);
        _exit(code);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir.file("long.txt")), "nan");
    EXPECT_EQ(requests(), (std::vector<std::string>{GET, R"({"setmem":{"system":{"tilt":{"long":"nan"}}}})"}));
}

} // namespace
