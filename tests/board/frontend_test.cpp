// vintor's board front-end against a real REP service with canned replies and a
// real publisher of board records, both on loopback with ephemeral ports.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include <zmq.hpp>

#include "configfile.h"
#include "harness.h"
#include "tarnixclass.h"

namespace {

// The port a socket bound to "tcp://127.0.0.1:*" was given.
int boundPort(zmq::socket_t& s)
{
    const std::string ep = s.get(zmq::sockopt::last_endpoint);
    return std::stoi(ep.substr(ep.rfind(':') + 1));
}

// Answers every request with one fixed text and keeps the last request.
class CannedService {
public:
    explicit CannedService(std::string reply) : text(std::move(reply))
    {
        rep.bind("tcp://127.0.0.1:*");
        port_ = boundPort(rep);
        worker = std::thread([this] {
            while (!stop) {
                zmq::pollitem_t item{static_cast<void*>(rep), 0, ZMQ_POLLIN, 0};
                zmq::poll(&item, 1, std::chrono::milliseconds(50));
                if (!(item.revents & ZMQ_POLLIN)) continue;
                zmq::message_t req;
                (void)rep.recv(req);
                {
                    std::lock_guard<std::mutex> hold(lock);
                    last = req.to_string();
                }
                rep.send(zmq::buffer(text), zmq::send_flags::none);
            }
        });
    }
    ~CannedService()
    {
        stop = true;
        worker.join();
    }
    int port() const { return port_; }
    std::string lastRequest()
    {
        std::lock_guard<std::mutex> hold(lock);
        return last;
    }

private:
    std::string text;
    zmq::context_t ctx{1};
    zmq::socket_t rep{ctx, zmq::socket_type::rep};
    int port_ = 0;
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::string last;
    std::thread worker;
};

TEST(BoardFrontEnd, ConfigurationFailuresEndTheRadarProcess)
{
    const struct {
        const char* reply;
        int exitCode;
        const char* out;
    } cases[] = {
        {"this is not JSON", 3, "Errormgs: Failed to parse JSON\r\n"},
        {R"({"success":{"tarnix-pic32":{"publishers":"5020"}}})", 1, "Errormgs: no publishers object\n"},
        {R"({"success":{"tarnix-pic32":{}}})", 1, "Errormgs: no publishers object\n"},
        {R"({"success":{"radar0":{}}})", 1, "Errormgs: no publishers object\n"},
        {R"({"failure":"unknown"})", 1, "Errormgs: no publishers object\n"},
        {R"([1,2,3])", 1, "Errormgs: no publishers object\n"},
        {R"({"success":{"tarnix-pic32":{"publishers":{"rawdata-pub":"no port"}}}})", 1, "Errormgs: rawdata-pub tcp://127.0.0.1:no port"},
        // The library would connect to 4464.
        {R"({"success":{"tarnix-pic32":{"publishers":{"rawdata-pub":"70000"}}}})", 1,
         "Errormgs: rawdata-pub tcp://127.0.0.1:70000: not a port number (1-65535)\n"},
        {R"({"success":{"tarnix-pic32":{"publishers":{"rawdata-pub":"5999"}}}})", 42, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        CannedService service(c.reply);
        testsupport::Process probe(FRONTEND_PROBE_BIN, {std::to_string(service.port())});
        ASSERT_TRUE(probe.wait(testsupport::milliseconds(10000)));
        probe.drain(testsupport::milliseconds(100));
        EXPECT_EQ(probe.exitCode(), c.exitCode);
        EXPECT_EQ(probe.output().rfind(c.out, 0), 0u) << probe.output();
        EXPECT_EQ(service.lastRequest(), "{ \"get\":{\"tarnix-pic32\":{\"publishers\":{\"rawdata-pub\":\"\"}}}}");
    }
}

tarnix_st record(int64_t time, int32_t sweepsize, int32_t quit = 0)
{
    tarnix_st r{};
    r.time = time;
    r.quit = quit;
    r.sweepsize = sweepsize;
    for (int i = 0; i < 2; i++) {
        r.tarnix_data[i].version = 0x000C;
        r.tarnix_data[i].temperature = 25;
        r.tarnix_data[i].id = uint32_t(time * 2 + i);
        r.tarnix_data[i].gain = i == 0 ? 0x0100 : 0;
        for (int n = 0; n < 1025; n++) r.tarnix_data[i].data[n] = uint16_t(time + n + i);
    }
    return r;
}

TEST(BoardFrontEnd, HandsOnWholeRecordsOldestFirst)
{
    zmq::context_t ctx{1};
    zmq::socket_t pub{ctx, zmq::socket_type::pub};
    pub.bind("tcp://127.0.0.1:*");
    const std::string port = std::to_string(boundPort(pub));
    CannedService service(R"({"success":{"tarnix-pic32":{"publishers":{"rawdata-pub":")" + port + R"("}}}})");

    ConfigFile cf(service.port(), 0);
    cf.setValue("radar1", "sweepsize", 512);
    cf.setValue("radar1", "nrofsweeps", 2);
    TarnixClass board(&cf, "radar1", 2.0);
    EXPECT_EQ(board.sweepSize, 512);
    EXPECT_EQ(board.nrOfSweeps, 2);
    EXPECT_FALSE(board.isAvailable());

    // Probes until the subscription has joined; they carry time -1.
    std::atomic<bool> joined{false};
    std::thread prober([&] {
        const tarnix_st probe = record(-1, 7);
        while (!joined) {
            pub.send(zmq::buffer(&probe, sizeof probe), zmq::send_flags::none);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    radar_st got{};
    got.length = -5;
    ASSERT_EQ(board.getMeasurement(&got, 1.0), 0);
    joined = true;
    prober.join();

    // A size above the board's 1024 samples is a failed read that leaves the
    // record alone, said once per size.
    const tarnix_st sent[] = {record(1000, 512), record(1001, 0), record(1002, 1, 1), record(1003, 2000),
                              record(1004, 2000), record(1005, 1024)};
    const struct {
        int result, length;
        const tarnix_st* last;
    } want[] = {{0, 512, &sent[0]}, {0, 0, &sent[1]}, {0, 1, &sent[2]}, {1, 0, &sent[2]}, {1, 0, &sent[2]}, {0, 1024, &sent[5]}};
    for (const tarnix_st& r : sent) pub.send(zmq::buffer(&r, sizeof r), zmq::send_flags::none);
    testing::internal::CaptureStdout();
    for (size_t i = 0; i < 6; i++) {
        const u_radar_data frames = got.data;
        int result;
        do {
            result = board.getMeasurement(&got, 1.0);
        } while (result == 0 && board.lastRecord().time == -1);
        EXPECT_EQ(result, want[i].result) << i;
        EXPECT_EQ(got.length, want[i].length) << i;
        EXPECT_EQ(memcmp(&board.lastRecord(), want[i].last, sizeof sent[i]), 0) << i;
        if (result != 0) {
            EXPECT_EQ(memcmp(&got.data, &frames, sizeof frames), 0) << i;
            continue;
        }
        EXPECT_EQ(memcmp(got.data.tarnix, sent[i].tarnix_data, sizeof sent[i].tarnix_data), 0) << i;
        ASSERT_TRUE(board.timeOfSweep(&got));
        EXPECT_EQ(std::string(got.time), std::to_string(sent[i].time)) << i;
    }
    // The section's own size counts too: the later stages size their bins by it.
    board.sweepSize = 1500;
    const tarnix_st fits = record(1006, 512);
    pub.send(zmq::buffer(&fits, sizeof fits), zmq::send_flags::none);
    EXPECT_EQ(board.getMeasurement(&got, 1.0), 1);
    EXPECT_EQ(got.length, 0);
    board.sweepSize = 512;
    const std::string warned = testing::internal::GetCapturedStdout();
    EXPECT_EQ(warned, "\nTarnix: sweepsize 2000 above the limit of 1024 samples: no measurement is taken\n"
                      "\nTarnix: sweepsize 1500 above the limit of 1024 samples: no measurement is taken\n");

    // A message of another size is a failed read and leaves the record alone.
    const tarnix_st before = board.lastRecord();
    const u_radar_data frames = got.data;
    std::vector<char> shortMsg(4000, 'x'), longMsg(5000, 'y');
    const tarnix_st after = record(1007, 256);
    pub.send(zmq::buffer(shortMsg), zmq::send_flags::none);
    pub.send(zmq::buffer(longMsg), zmq::send_flags::none);
    pub.send(zmq::buffer(&after, sizeof after), zmq::send_flags::none);
    testing::internal::CaptureStdout();
    got.length = 77;
    EXPECT_EQ(board.getMeasurement(&got, 1.0), 1);
    EXPECT_EQ(got.length, 0);
    EXPECT_EQ(memcmp(&board.lastRecord(), &before, sizeof before), 0);
    EXPECT_EQ(memcmp(&got.data, &frames, sizeof frames), 0);
    EXPECT_EQ(board.getMeasurement(&got, 1.0), 1);
    EXPECT_EQ(memcmp(&board.lastRecord(), &before, sizeof before), 0);
    EXPECT_EQ(memcmp(&got.data, &frames, sizeof frames), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("ZMQTarnix error"), std::string::npos);

    board.setDebug(1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(board.getMeasurement(&got, 1.0), 0);
    EXPECT_EQ(got.length, 256);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nTarnix0: v=12 temperature=25 time=0 id=2014 gain:256 freq:0.000000 bw:0.000000 SyncTime=1007"
              "\nTarnix1: v=12 temperature=25 time=0 id=2015 gain:0 freq:0.000000 bw:0.000000 SyncTime=1007");
}

} // namespace
