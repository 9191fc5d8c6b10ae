// tilt-average as a whole program: the configuration stand-in on free ports
// (-c), a raw IMU feed published by the test, files in a temporary directory.
#include "harness.h"

#include <gtest/gtest.h>
#include <zmq.hpp>

#include <cstdio>
#include <fstream>

using namespace testsupport;

namespace {

class TiltProgram : public ::testing::Test {
protected:
    std::string settings(int feedPort)
    {
        return R"({"tilt-average":{"fileNameFast":")" + dir.file("fast.txt") + R"(","fileNameLong":")" +
               dir.file("long.txt") + R"("},"RTIMULibDrive":{"publishers":{"rawIMU-pub":")" +
               std::to_string(feedPort) + R"("}}})";
    }
    void start(const std::string& reply = "")
    {
        service.reset();
        feedPort = freePort();
        std::remove(dir.file("requests.log").c_str());
        writeFile(dir.file("station.json"), settings(feedPort));
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
        Publisher feed(feedPort);
        if (!lines.empty()) {
            EXPECT_TRUE(feed.subscribed(milliseconds(15000)));
        }
        for (const auto& line : lines)
            feed.send(line);
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
        std::vector<std::string> args, lines;
        int code;
        const char* says;
        size_t requests;
    } rows[] = {
        {"", {"-t", "x"}, {}, 1, "Error: Wrong typeCalc parameter\n", 1},
        {"nosuccess", {}, {}, 1, "Configuration not found\n", 1},
        {"nonjson", {}, {}, 3, "", 1},
        {"", {"-q"}, {"1,a,b,c"}, 5, "Error: wrong string received (1,a,b,c)", 1},
        {"", {"-q"}, {"1,2,3"}, 5, "Error: wrong string received (1,2,3)", 1},
        {"", {"-q", "-z"}, {}, 1, "Unknown option `-z'.\n  -c <portnr>    -> configurator portnumber", 0},
    };
    for (const auto& r : rows) {
        start(r.reply);
        Finished f = run(r.args, r.lines);
        EXPECT_EQ(f.code, r.code) << f.out;
        EXPECT_NE(f.out.find(r.says), std::string::npos) << f.out;
        EXPECT_EQ(requests().size(), r.requests);
        EXPECT_FALSE(std::ifstream(dir.file("fast.txt")).good());
    }
    Finished f = runToEnd(TILT_AVERAGE_BIN, {"-c", "50x"}, true);
    EXPECT_EQ(f.code, 1);
    EXPECT_EQ(f.out, "Error: -c needs a port number, not \"50x\"\n");
}

TEST_F(TiltProgram, AStoreReplyThatIsNotJsonLeavesTheFileUnwritten)
{
    // The test answers as the service: its settings, then a text that is not JSON.
    const int port = freePort();
    zmq::context_t context(1);
    zmq::socket_t service(context, zmq::socket_type::rep);
    service.set(zmq::sockopt::rcvtimeo, 15000);
    service.bind("tcp://127.0.0.1:" + std::to_string(port));
    Process p(TILT_AVERAGE_BIN, {"-q", "-c", std::to_string(port)});
    for (std::string reply : {R"({"success":)" + settings(freePort()) + "}", std::string("stored?")}) {
        zmq::message_t request;
        ASSERT_TRUE(service.recv(request));
        service.send(zmq::buffer(reply), zmq::send_flags::none);
    }
    ASSERT_TRUE(p.wait(milliseconds(15000)));
    EXPECT_EQ(p.exitCode(), 3);
    EXPECT_FALSE(std::ifstream(dir.file("fast.txt")).good());
}

} // namespace
