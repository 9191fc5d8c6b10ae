// Each program started on its example in config/examples, served as it stands
// by the configuration stand-in (5010, notices on 5011), in a private namespace
// on the ports the example names; the test plays the feeds around it.
#include "harness.h"

#include <gtest/gtest.h>
#include <zmq.hpp>

#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

using namespace testsupport;

namespace {

const long long T0 = 1700000000000;

std::unique_ptr<Process> serveExample(const std::string& config, const std::string& memory = "")
{
    ConfigServiceOptions o;
    o.config = sourcePath("config/examples/" + config);
    if (!memory.empty())
        o.memory = sourcePath("config/examples/" + memory);
    return startConfigService(o);
}

// Ends a supervising program as its service manager would, with 0.
void endWithTerm(Process& program)
{
    program.signal(SIGTERM);
    ASSERT_TRUE(program.wait(milliseconds(15000)));
    EXPECT_EQ(program.exitCode(), 0);
}

// A radar program's text frame: the line NUL-padded to the feed's frame size.
std::string frame(const std::string& line, size_t size)
{
    std::string f = line;
    f.resize(size, '\0');
    return f;
}

TEST(ConfigExamples, HeaveSmootherTakesTheRippleOffTheHeave)
{
    auto service = serveExample("heave-smoother.json");
    ASSERT_TRUE(service);
    Publisher input(5080);
    Subscriber output("tcp://127.0.0.1:5081");
    // The coefficient file's path is relative, as the example is started from the checkout.
    Process::Options o;
    o.workingDirectory = sourcePath("");
    Process smoother(HEAVE_SMOOTHER_BIN, {"-q"}, o);
    ASSERT_TRUE(input.subscribed(milliseconds(15000))) << "the smoother never subscribed";

    // A 10 s swell with a 3 Hz ripple, on the 100 ms grid: the low-pass must give
    // back the swell alone, stamped with its own grid time.
    auto swell = [](long long t) { return 100.0 * std::sin(2 * M_PI * 0.1 * (t - T0) / 1000.0); };
    int k = 0, checked = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (checked < 30 && std::chrono::steady_clock::now() < deadline) {
        if (k < 3000) {
            const long long t = T0 + 100LL * k++;
            char line[128];
            snprintf(line, sizeof line, "%lld,%f,1.5,-2.25,90", t,
                     swell(t) + 10.0 * std::sin(2 * M_PI * 3.0 * (t - T0) / 1000.0));
            input.send(line);
        }
        std::string line;
        while (output.receive(&line, milliseconds(k < 3000 ? 1 : 100))) {
            long long g = 0;
            double heave = 0;
            char rest[64] = "";
            ASSERT_EQ(sscanf(line.c_str(), "%lld,%lf,%63s", &g, &heave, rest), 3) << line;
            ASSERT_EQ(g % 100, 0) << line;
            EXPECT_STREQ(rest, "1.500000,-2.250000,90.000000") << line;
            // Grid points from 5 s on have a full filter behind them.
            if (g >= T0 + 5000) {
                EXPECT_NEAR(heave, swell(g), 0.1) << line;
                checked++;
            }
        }
    }
    EXPECT_GE(checked, 30);
    endWithTerm(smoother);
}

TEST(ConfigExamples, HeaveCorrectorCorrectsTheRadarHeave)
{
    auto service = serveExample("heave-corrector.json");
    ASSERT_TRUE(service);
    Publisher radar(5033), imu(5081);
    Subscriber output("tcp://127.0.0.1:5082");
    Process corrector(HEAVE_CORRECTOR_BIN, {"-q"});
    ASSERT_TRUE(radar.subscribed(milliseconds(15000)));
    ASSERT_TRUE(imu.subscribed(milliseconds(15000)));

    // One radar sample between smoothed IMU samples 100 ms apart; each IMU line
    // that follows drives one alignment step, until the sample is corrected.
    const long long t = T0 + 250;
    radar.send(frame("time=" + std::to_string(t) + ";sensor=radar0;heave=321.500000cm", 200));
    std::string line;
    for (int k = 0; k < 100 && !output.receive(&line, milliseconds(100)); k++)
        imu.send(std::to_string(T0 + 100 * k) + ",5.000000,2.000000,-3.000000,90.000000");
    ASSERT_FALSE(line.empty()) << "nothing corrected";

    // The example's mounting: 1200 high, level (angle 0).
    const double deg = M_PI / 180.0;
    const double want = 1200.0 - (1200.0 - 321.5) * std::cos(2 * deg) * std::cos(-3 * deg) + 5.0;
    unsigned long long time = 0;
    double corrected = 0;
    char rest[64] = "";
    ASSERT_EQ(sscanf(line.c_str(), "%llu,%lf,%63s", &time, &corrected, rest), 3) << line;
    EXPECT_EQ(time, static_cast<unsigned long long>(t));
    EXPECT_NEAR(corrected, want, 0.001) << line;
    EXPECT_STREQ(rest, "2,-3,90");
    corrector.signal(SIGTERM);
    EXPECT_TRUE(corrector.wait(milliseconds(15000)));
}

TEST(ConfigExamples, HeadingAdjustPutsTheCompassHeadingIntoTheImuLines)
{
    auto service = serveExample("heading-adjust.json");
    ASSERT_TRUE(service);
    Publisher imu(5090);
    Subscriber output("tcp://127.0.0.1:5097");
    Process adjust(HEADING_ADJUST_BIN, {});
    ASSERT_TRUE(imu.subscribed(milliseconds(15000)));
    const std::string imuLine = "1700000000000000,0.1,0.2,0.3,123.4,0.5,0.6";
    std::string m;
    ASSERT_TRUE(output.receiveAfter([&] { imu.send(imuLine); }, &m, milliseconds(15000)));
    EXPECT_EQ(m, "1700000000000000,0.1,0.2,0.3,NaN,0.5,0.6") << "no heading before the compass";

    // The compass pushes to the example's "*:5098": heading 30 is 60 east-north-up.
    zmq::context_t context(1);
    zmq::socket_t compass(context, zmq::socket_type::push);
    compass.set(zmq::sockopt::linger, 0);
    compass.connect("tcp://127.0.0.1:5098");
    compass.send(zmq::str_buffer("time=1700000000000;sensor=gps0;heading=30deg"), zmq::send_flags::none);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (m != "1700000000000000,0.1,0.2,0.3,60.000000,0.5,0.6" && std::chrono::steady_clock::now() < deadline)
        ASSERT_TRUE(output.receiveAfter([&] { imu.send(imuLine); }, &m, milliseconds(15000)));
    EXPECT_EQ(m, "1700000000000000,0.1,0.2,0.3,60.000000,0.5,0.6");
    endWithTerm(adjust);
}

TEST(ConfigExamples, UnitRelayRelaysTheRemoteUnitsFeeds)
{
    auto service = serveExample("unit-relay.json", "unit-relay-memory.json");
    ASSERT_TRUE(service);
    // The remote unit's "heave" and "vintor" feeds, at the address its serial
    // number has in "Radars".
    Publisher heave(5033), vintor(5034);
    Subscriber localHeave("tcp://127.0.0.1:5133"), localVintor("tcp://127.0.0.1:5134");
    Process relay(UNIT_RELAY_BIN, {"-q"});
    const std::string h = frame("time=1700000000000;sensor=radar0;heave=321.500000cm", 200);
    const std::string v = frame("time=1700000000000;sensor=radar0;Vintor=NaN;Value=3", 400);
    std::string m;
    ASSERT_TRUE(localHeave.receiveAfter([&] { heave.send(h); }, &m, milliseconds(15000)));
    EXPECT_EQ(m, h);
    ASSERT_TRUE(localVintor.receiveAfter([&] { vintor.send(v); }, &m, milliseconds(15000)));
    EXPECT_EQ(m, v);
    endWithTerm(relay);
}

} // namespace
