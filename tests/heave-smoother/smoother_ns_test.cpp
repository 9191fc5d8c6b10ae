// heave-smoother as a whole program in a private namespace: the configuration
// stand-in on 5010/5011, a line stream published on 5080, the output on 5051.
#include "harness.h"

#include <gtest/gtest.h>
#include <zmq.hpp>

#include <cmath>
#include <cstdio>
#include <string>

using namespace testsupport;

namespace {

const int64_t T0 = 1700000000000;

std::string config(const std::string& filterFile)
{
    return R"({"configurator":{"version":"1"},"general":{},"IMU":{},
               "heave-smoother":{"publishers":{"fastport":"5051"},"subscribe":"127.0.0.1:5080",
                                 "filterFilename":")" + filterFile + R"("}})";
}

// Input line k, 20 ms apart; grid times fall on input times, so the value
// published for a grid time is exactly the input's.
std::string inputLine(int k, double* heave = nullptr)
{
    double h = 100.0 * std::sin(k * 0.05);
    if (heave != nullptr)
        *heave = h;
    char line[128];
    snprintf(line, sizeof line, "%lld,%f,1.25,-2.5,180", static_cast<long long>(T0 + 20 * k), h);
    return line;
}

void notice(const std::string& section)
{
    std::string reply;
    request("tcp://127.0.0.1:5010", "{\"set\":{\"" + section + "\":{\"changed\":\"1\"}}}", &reply);
}

// The input feed: an extended publisher, so the test knows when the smoother's
// subscription has arrived and when it went away.
struct InputFeed {
    zmq::context_t context{1};
    zmq::socket_t socket{context, zmq::socket_type::xpub};
    InputFeed() { socket.bind("tcp://*:5080"); }
    // true when a subscription (first byte 1) or an unsubscription (0) came.
    bool waitFor(uint8_t kind, milliseconds timeout)
    {
        socket.set(zmq::sockopt::rcvtimeo, static_cast<int>(timeout.count()));
        zmq::message_t m;
        while (socket.recv(m))
            if (m.size() > 0 && static_cast<const uint8_t*>(m.data())[0] == kind)
                return true;
        return false;
    }
    void send(const std::string& line) { socket.send(zmq::buffer(line), zmq::send_flags::dontwait); }
};

TEST(HeaveSmootherProgram, PublishesTheFilteredStreamDelayedAndEndsOnANotice)
{
    TempDir d;
    std::string taps;
    for (int i = 0; i < 101; i++)
        taps += i == 50 ? "1\n" : "0\n";
    writeFile(d.file("fir.txt"), taps);
    auto service = startConfigServiceWith(d, config(d.file("fir.txt")));
    ASSERT_TRUE(service);
    InputFeed input;
    Subscriber output("tcp://127.0.0.1:5051");
    Process smoother(HEAVE_SMOOTHER_BIN, {"-q"});
    ASSERT_TRUE(input.waitFor(1, milliseconds(15000))) << "the smoother never subscribed";

    // The filter's centre tap delays by 50 grid points, which the output ring takes
    // back out: every published grid time carries the input of that time.
    std::vector<std::string> got;
    int k = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (got.size() < 30 && std::chrono::steady_clock::now() < deadline) {
        if (k < 5000)
            input.send(inputLine(k++));
        std::string line;
        while (output.receive(&line, milliseconds(k < 5000 ? 1 : 100)))
            got.push_back(line);
    }
    ASSERT_GE(got.size(), 30u);
    long long previous = 0;
    for (const std::string& line : got) {
        long long g = 0;
        ASSERT_EQ(sscanf(line.c_str(), "%lld,", &g), 1) << line;
        ASSERT_EQ(g % 100, 0) << line;
        int inputIndex = static_cast<int>((g - T0) / 20);
        EXPECT_GE(k, inputIndex + 250) << "published before the input 5 s later was sent";
        double h;
        inputLine(inputIndex, &h);
        char want[128];
        snprintf(want, sizeof want, "%lld,%f,1.250000,-2.500000,180.000000", g, h);
        EXPECT_EQ(line, want);
        if (previous != 0) {
            EXPECT_EQ(g, previous + 100) << "one line per grid point";
        }
        previous = g;
    }

    // A notice ends the program within its 5 s watch period, and the worker with it.
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (smoother.running() && std::chrono::steady_clock::now() < deadline) {
        notice("heave-smoother");
        smoother.wait(milliseconds(500));
    }
    int status = 0;
    ASSERT_TRUE(smoother.wait(milliseconds(100), &status));
    EXPECT_EQ(smoother.exitCode(), 0);
    EXPECT_TRUE(input.waitFor(0, milliseconds(10000))) << "the worker still holds its subscription";
}

// A file that cannot be used, also one that never ends or has no line end, is
// said within a few seconds, and the program ends (with 0) with its worker.
TEST(HeaveSmootherProgram, AnUnusableFilterFileKeepsTheWorkerFromStarting)
{
    TempDir d;
    writeFile(d.file("empty.txt"), "");
    writeFile(d.file("digits.txt"), std::string(64 << 20, '7'));
    for (const std::string& file : {d.file("empty.txt"), d.path(), std::string("/dev/zero"), d.file("digits.txt")}) {
        SCOPED_TRACE(file);
        auto service = startConfigServiceWith(d, config(file));
        ASSERT_TRUE(service);
        Process smoother(HEAVE_SMOOTHER_BIN, {});
        std::string line;
        ASSERT_TRUE(smoother.waitForLine("cannot be used", milliseconds(10000), &line)) << smoother.output();
        EXPECT_EQ(line, "Filter " + file + " cannot be used (error -3): not smoothing");
        if (file == d.file("empty.txt")) {
            EXPECT_NE(smoother.output().find("Filter has 0 taps."), std::string::npos);
        }
        int status = 0;
        ASSERT_TRUE(smoother.wait(milliseconds(10000), &status)) << "the supervisor did not end with its worker";
        EXPECT_EQ(smoother.exitCode(), 0) << "the supervisor ends with 0 whatever the worker's status";
    }
}

TEST(HeaveSmootherProgram, HelpAndUnknownOptionsPrintTheUsage)
{
    struct { std::vector<std::string> args; char option; } cases[] = {{{"-h"}, 'h'}, {{"-x"}, 'x'}, {{"-c"}, 'c'}};
    for (auto& c : cases) {
        Process::Options o;
        o.mergeStderr = true;
        Process smoother(HEAVE_SMOOTHER_BIN, c.args, o);
        ASSERT_TRUE(smoother.wait(milliseconds(10000)));
        smoother.drain(milliseconds(200));
        EXPECT_EQ(smoother.exitCode(), 1);
        const std::string path = HEAVE_SMOOTHER_BIN;
        EXPECT_EQ(smoother.output(), path + " will fetch zmq messages and presents them local.\n"
                                            "Unknown option `-" + c.option + "'.\n"
                                            "  -c <ip>:<portnr>\t\t-> configurator portnumber; defaults to 127.0.0.1:5010\n"
                                            "  -h\t\t-> This help page\n"
                                            "  -q\t\t\t-> quiet\n\n"
                                            "Use: " + path + " -c 127.0.0.1:5010\n\n");
    }
}

} // namespace
