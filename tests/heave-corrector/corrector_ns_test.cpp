// heave-corrector as a whole program in a private namespace: the configuration
// stand-in on 5010/5011, the radar heave feed on 5033, the IMU feed on 5051 and
// the corrected feed on 5070.
#include "harness.h"

#include <gtest/gtest.h>
#include <zmq.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace testsupport;

namespace {

const uint64_t T = 1700000000000ull;

const char* const CONFIG = R"({"imu":{},"vintor":{},
  "radar":{"mountingangle":"0","mountingheight":"1200"},
  "heave-corrector":{"subscribers":{"heave":"127.0.0.1:5033","imu":"127.0.0.1:5051"},
                     "publishers":{"corrected-heave":"5070"},"timelag":{"value":"20"}}})";

// A feed the test publishes on; extended, so the test knows when the program's
// subscription has arrived.
struct Feed {
    zmq::context_t context{1};
    zmq::socket_t socket{context, zmq::socket_type::xpub};
    explicit Feed(int port) { socket.bind("tcp://*:" + std::to_string(port)); }
    bool subscribed(milliseconds timeout)
    {
        socket.set(zmq::sockopt::rcvtimeo, static_cast<int>(timeout.count()));
        zmq::message_t m;
        return socket.recv(m).has_value() && m.size() > 0 && static_cast<const uint8_t*>(m.data())[0] == 1;
    }
    void send(const std::string& bytes) { socket.send(zmq::buffer(bytes), zmq::send_flags::none); }
};

// The radar program's heave frame: the line NUL-padded to 200 bytes.
std::string frame(uint64_t time, const std::string& heave)
{
    std::string text = "time=" + std::to_string(time) + ";sensor=radar0;heave=" + heave;
    text.resize(200, '\0');
    return text;
}

// IMU line k: microsecond time T + 100 k ms, heave k, roll 10 degrees, yaw 45.
std::string imuLine(int k)
{
    return std::to_string((T + 100 * k) * 1000 + 123) + "," + std::to_string(k) + ",10,0,45,extra";
}

std::string expected(uint64_t time, double radarHeave, double imuHeave)
{
    double corrected = 1200.0 - (1200.0 - radarHeave) * std::cos(10.0 * M_PI / 180.0) + imuHeave;
    char line[128];
    snprintf(line, sizeof line, "%llu,%g,10,0,45", static_cast<unsigned long long>(time), corrected);
    return line;
}

void notice(const std::string& section)
{
    std::string reply;
    request("tcp://127.0.0.1:5010", "{\"set\":{\"" + section + "\":{\"changed\":\"1\"}}}", &reply);
}

TEST(HeaveCorrectorProgram, CorrectsAlignedRadarSamplesAndEndsOnARadarNotice)
{
    TempDir d;
    auto service = startConfigServiceWith(d, CONFIG);
    ASSERT_TRUE(service);
    Feed radar(5033), imu(5051);
    Subscriber output("tcp://127.0.0.1:5070");
    Process corrector(HEAVE_CORRECTOR_BIN, {"x"});
    ASSERT_TRUE(radar.subscribed(milliseconds(15000)));
    ASSERT_TRUE(imu.subscribed(milliseconds(15000)));

    // A "nan" line goes out at once, up to its NUL; it also shows the output path
    // works. Its time lies before every IMU sample, so alignment drops it.
    const std::string sync = frame(1, "nancm");
    std::string line;
    ASSERT_TRUE(output.receiveAfter([&] { radar.send(sync); }, &line, milliseconds(15000)));
    EXPECT_EQ(line, sync.substr(0, sync.find('\0')));

    // IMU samples at T+20, T+120, ... (the configured 20 ms lag on microsecond times).
    for (int k = 0; k < 10; k++)
        imu.send(imuLine(k));
    radar.send(frame(T + 70, "700.000000cm"));   // halfway between heave 0 and 1
    radar.send(frame(T + 220, "650.000000cm"));  // exactly IMU sample 2
    radar.send(frame(T + 370, "nancm"));         // between samples 3 and 4
    // Each arrival drives one alignment step: later IMU samples keep coming until
    // every radar sample has been aligned (fewer than the queue's 201 in all).
    int k = 10;

    const std::vector<std::string> want = {expected(T + 70, 700, 0.5), expected(T + 220, 650, 2),
                                           std::to_string(T + 370) + ",nan,10,0,45"};
    const std::string forwarded = "time=" + std::to_string(T + 370) + ";sensor=radar0;heave=nancm";
    std::vector<std::string> corrected;
    bool sawForward = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (corrected.size() < want.size() && std::chrono::steady_clock::now() < deadline) {
        if (!output.receive(&line, milliseconds(100))) {
            if (k < 180)
                imu.send(imuLine(k++));
            continue;
        }
        if (line == forwarded)
            sawForward = true;
        else if (line.find("time=") == std::string::npos)
            corrected.push_back(line);
    }
    EXPECT_EQ(corrected, want);
    EXPECT_TRUE(sawForward);

    // A notice for any radar section ends it, though both feeds are silent now.
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (corrector.running() && std::chrono::steady_clock::now() < deadline) {
        notice("radar2");
        corrector.wait(milliseconds(300));
    }
    ASSERT_TRUE(corrector.wait(milliseconds(100)));
    EXPECT_EQ(corrector.exitCode(), 0);
    corrector.drain(milliseconds(100));
    EXPECT_EQ(corrector.output(), "") << "any first argument makes it quiet";
}

TEST(HeaveCorrectorProgram, AReplyThatIsNotJsonOrHoldsNoSuccessIsSaidBeforeThePathItLacks)
{
    const struct {
        const char* reply;
        const char* said;
    } rows[] = {
        {"nonjson", "Failed to parse JSON\r\n"},
        {"nosuccess", "Configuration reply holds no \"success\" object\r\n"},
    };
    for (const auto& r : rows) {
        ConfigServiceOptions o;
        o.reply = r.reply;
        auto service = startConfigService(o);
        ASSERT_TRUE(service);
        Process corrector(HEAVE_CORRECTOR_BIN, {"-q"});
        ASSERT_TRUE(corrector.wait(milliseconds(15000)));
        corrector.drain(milliseconds(100));
        EXPECT_EQ(corrector.exitCode(), 1) << r.reply;
        EXPECT_EQ(corrector.output(), std::string(r.said) + "No heave-corrector,subscribers,heave data found!\r\n");
    }
}

TEST(HeaveCorrectorProgram, AMissingSectionEndsItNamingThePath)
{
    TempDir d;
    auto service = startConfigServiceWith(
        d, R"({"heave-corrector":{"subscribers":{"heave":"127.0.0.1:5033"}}})");
    ASSERT_TRUE(service);
    Process corrector(HEAVE_CORRECTOR_BIN, {});
    ASSERT_TRUE(corrector.wait(milliseconds(15000)));
    corrector.drain(milliseconds(100));
    EXPECT_EQ(corrector.exitCode(), 1);
    EXPECT_EQ(corrector.output(), "No radar,mountingangle data found!\r\n");
}

} // namespace
