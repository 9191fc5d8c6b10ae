// The height and subscriptions stage loops as processes of their own, on real
// rings in a mapped file, real semaphores and loopback feeds.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "configfile.h"
#include "harness.h"
#include "fft.h"
#include "h.h"
#include "peak.h"
#include "stage_fixture.h"
#include "subscriptions.h"

using namespace stagetest;

namespace {

constexpr double FD_1024 = 14.633912;
constexpr long long T0 = 1765257600000;

struct Ports {
    std::vector<int> all = testsupport::freePorts(5);
    int h = all[0], heave = all[1], vintor = all[2], reflection = all[3], config = all[4];
};

// radar0 mounted at 1200 cm looking straight down; the configuration service
// port has no listener, so every valid-data report goes unanswered.
void configure(ConfigFile& cf, const Ports& p) {
    const char* keys[][2] = {{"minimumheight", "1"},  {"maximumheight", "20"},   {"sweepsize", "1024"},
                             {"mountingheight", "1200"}, {"mountingangle", "0"}, {"radaroffset", "0"},
                             {"radarType", "F"},      {"threshold", "10"},      {"radarname", "radarA"},
                             {"validDataPointsN", "10"}, {"validDataPointsSteps", "10"}, {"nrofsweeps", "2"}};
    for (auto& kv : keys) cf.setValue("radar0", kv[0], std::string(kv[1]));
    cf.setValue("publishers", "h", p.h);
    cf.setValue("publishers", "heave", p.heave);
    cf.setValue("publishers", "vintor", p.vintor);
    cf.setValue("publishers", "reflection", p.reflection);
    cf.confport = p.config;
}

peak_st surfaceAt(double d, long long time, int fftKey) {
    peak_st r;
    std::memset(&r, 0, sizeof r);
    std::snprintf(r.time, sizeof r.time, "%lld", time);
    std::snprintf(r.section, sizeof r.section, "radar0");
    r.nrOfSweeps = 2;
    r.fft_key = fftKey;
    const double bins = d / FD_1024;
    for (int s = 0; s < 2; ++s) {
        r.nrOfPeaks[s] = 1;
        r.data[s][0] = {static_cast<int>(bins), 1000.0f, static_cast<float>(bins - static_cast<int>(bins))};
    }
    return r;
}

heave_st heightRecord(long long time, float distance) {
    heave_st r;
    std::memset(&r, 0, sizeof r);
    std::snprintf(r.time, sizeof r.time, "%lld", time);
    std::snprintf(r.section, sizeof r.section, "radar0");
    r.nrOfSweeps = 2;
    r.distance[0] = r.distance[1] = r.distanceAvg = distance;
    return r;
}

std::string text(const std::string& frame) { return std::string(frame.c_str()); }

}  // namespace

TEST(Stages, PeakRecordsBecomeHeightRecordsAndTextFeeds) {
    Rings rings(2);
    const int keyH = rings.keys[0], keySubscriptions = rings.keys[1];
    Ports ports;
    ConfigFile cf(0, 0);
    configure(cf, ports);
    Child height([&] { HClass(&cf).process(keyH, keySubscriptions); });
    Child subscriptions([&] { SubscriptionsClass(&cf).process(keySubscriptions); });

    zmq::context_t ctx;
    zmq::socket_t h = subscriber(ctx, ports.h), heave = subscriber(ctx, ports.heave),
                  vintor = subscriber(ctx, ports.vintor), refl = subscriber(ctx, ports.reflection);
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(sleepsOn(keyH));
    ASSERT_TRUE(sleepsOn(keySubscriptions));

    SharedMem storage(&cf);
    const int semH = getSemaphore(keyH);
    constexpr int records = 16;
    for (int k = 0; k < records; ++k) {
        peak_st p = surfaceAt(500.0, T0 + 100 * k, k);
        storage.add("p", &p, sizeof p);
        setSemaphore(semH, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    int reflections = 0;
    for (int k = 0; k < records; ++k) {
        SCOPED_TRACE(k);
        const std::string rec = receive(h);
        ASSERT_EQ(rec.size(), sizeof(heave_st));
        heave_st r;
        std::memcpy(&r, rec.data(), sizeof r);
        EXPECT_EQ(r.nrOfSweeps, 2);
        EXPECT_EQ(r.peak_key, k + 1);  // slot 0 is written on the way round
        EXPECT_NEAR(r.distanceAvg, 500.0, 1e-2);

        const std::string hv = receive(heave);
        ASSERT_EQ(hv.size(), HEAVE_FRAME_SIZE);
        const std::string head = "time=" + std::to_string(T0 + 100 * k) + ";sensor=radarA;";
        EXPECT_EQ(text(hv).substr(0, head.size() + 9), head + "heave=700") << text(hv);
        const std::string vt = receive(vintor);
        ASSERT_EQ(vt.size(), VINTOR_FRAME_SIZE);
        EXPECT_EQ(text(vt).substr(0, head.size() + 22), head + "Vintor=1200.000000,0.0") << text(vt);
        if (k % 8 == 7) {
            const std::string line = receive(refl);
            ASSERT_FALSE(line.empty());
            EXPECT_EQ(line.substr(0, head.size() + 5), head + "Diag=");
            ++reflections;
        }
    }
    EXPECT_EQ(reflections, 2);
    EXPECT_TRUE(receive(refl, 200).empty());
    // That an unanswered configuration service holds the feeds up at most once
    // is judged by the requests it is sent, in
    // SilentConfigurationServiceNeverStopsTheFeeds.
    EXPECT_EQ(sharedmem->status.peak, records);
    EXPECT_EQ(sharedmem->key.heave, records);
}

TEST(Stages, RestartedSubscriptionsStagePublishesOnlyNewRecords) {
    Rings rings(1);
    const int key = rings.keys[0];
    Ports ports;
    ConfigFile cf(0, 0);
    configure(cf, ports);
    SharedMem storage(&cf);
    const int sem = getSemaphore(key);

    auto run = [&] { SubscriptionsClass(&cf).process(key); };
    Child first(run);
    auto ctx = std::make_unique<zmq::context_t>();
    auto heave = std::make_unique<zmq::socket_t>(subscriber(*ctx, ports.heave));
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(sleepsOn(key));
    for (int k = 0; k < 5; ++k) {
        heave_st r = heightRecord(T0 + k, 500);
        storage.add("h", &r, sizeof r);
    }
    setSemaphore(sem, 1);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(text(receive(*heave)).substr(0, 18), "time=" + std::to_string(T0 + k));
    first.stop();
    heave.reset();
    ctx.reset();

    Child second(run);
    ctx = std::make_unique<zmq::context_t>();
    heave = std::make_unique<zmq::socket_t>(subscriber(*ctx, ports.heave));
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(sleepsOn(key));
    setSemaphore(sem, 1);
    EXPECT_TRUE(receive(*heave, 300).empty()) << "old records published again";
    heave_st r = heightRecord(T0 + 99, 500);
    storage.add("h", &r, sizeof r);
    setSemaphore(sem, 1);
    EXPECT_EQ(text(receive(*heave)), "time=1765257600099;sensor=radarA;heave=700.000000cm");
    EXPECT_TRUE(receive(*heave, 200).empty());
}

namespace {

// A subscriptions stage fed ten valid records one at a time, with the
// configuration service stand-in on the port the stage reports to.
struct ShareRun {
    Rings rings{1};
    Ports ports;
    ConfigFile cf{0, 0};
    testsupport::TempDir dir;
    std::unique_ptr<Child> stage;
    std::unique_ptr<testsupport::Process> service;
    std::unique_ptr<zmq::context_t> ctx;
    std::unique_ptr<zmq::socket_t> heave;
    bool ready = false;

    explicit ShareRun(const std::string& reply) {
        configure(cf, ports);
        stage = std::make_unique<Child>([this] { SubscriptionsClass(&cf).process(rings.keys[0]); });
        testsupport::ConfigServiceOptions o;
        o.repPort = ports.config;
        o.pubPort = testsupport::freePort();
        o.requestLog = dir.file("requests.log");
        o.reply = reply;
        service = testsupport::startConfigService(o);
        ctx = std::make_unique<zmq::context_t>();
        heave = std::make_unique<zmq::socket_t>(subscriber(*ctx, ports.heave));
        ready = service && !::testing::Test::HasFailure() && sleepsOn(rings.keys[0]);
    }
    // Adds records and returns how many heave lines came back.
    int feed(int records, int firstTime) {
        SharedMem storage(&cf);
        const int sem = getSemaphore(rings.keys[0]);
        int lines = 0;
        for (int k = 0; k < records; ++k) {
            heave_st r = heightRecord(T0 + firstTime + k, 500);
            storage.add("h", &r, sizeof r);
            setSemaphore(sem, 1);
            if (!receive(*heave).empty()) ++lines;
        }
        return lines;
    }
};

}  // namespace

TEST(Stages, ValidDataShareReachesTheConfigurationService) {
    ShareRun run("");
    ASSERT_TRUE(run.ready);
    ASSERT_EQ(run.feed(12, 0), 12);
    std::vector<std::string> sent;
    for (const std::string& r : testsupport::readRequestLog(run.dir.file("requests.log")))
        if (r.find("setmem") != std::string::npos) sent.push_back(r);
    // Counts 2..10 of 10 in steps of 10 %; nothing at count 1 or once full.
    ASSERT_EQ(sent.size(), 9u);
    EXPECT_EQ(sent.front(), "{\"setmem\":{\"status\":{\"vintor\":{\"validDataPoints\":\"20.000000\"}}}}");
    EXPECT_EQ(sent.back(), "{\"setmem\":{\"status\":{\"vintor\":{\"validDataPoints\":\"100.000000\"}}}}");
    std::string reply;
    ASSERT_TRUE(testsupport::request("tcp://127.0.0.1:" + std::to_string(run.ports.config),
                                     "{\"getmem\":{\"status\":{\"vintor\":{\"validDataPoints\":\"\"}}}}", &reply));
    EXPECT_NE(reply.find("100.000000"), std::string::npos) << reply;
}

TEST(Stages, SilentConfigurationServiceNeverStopsTheFeeds) {
    ShareRun run("silent");
    ASSERT_TRUE(run.ready);
    EXPECT_EQ(run.feed(40, 0), 40);
    // One unanswered request costs its time-out; the share's later changes wait
    // for the retry pause instead of each costing one more: one request only.
    // (Judged by the requests, not the clock, which a loaded machine stretches.)
    const auto requests = testsupport::readRequestLog(run.dir.file("requests.log"));
    EXPECT_EQ(requests.size(), 1u);
}

namespace {

// Holds a TCP port on every address, as another program would.
struct HeldPort {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    HeldPort() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        socklen_t len = sizeof a;
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd, 1);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~HeldPort() { close(fd); }
};

}  // namespace

TEST(Stages, AStageWhoseFeedCannotBindSaysWhereAndWhyAndEndsWithStatusOne) {
    Rings rings(2);
    HeldPort held;
    ConfigFile cf(0, 0);
    for (const char* feed : {"fft", "peak", "h"}) cf.setValue("publishers", feed, held.port);
    const struct {
        const char* label;
        std::function<void()> run;
    } stages[] = {
        {"fft", [&] {
             std::unique_ptr<FFTClass> fft(new FFTClass(&cf));
             fft->semFftKey = rings.keys[0];
             fft->semPeakKey = rings.keys[1];
             fft->generateFFT();
         }},
        {"peak", [&] {
             PeakClass peak(&cf);
             peak.semPeakKey = rings.keys[0];
             peak.semHKey = rings.keys[1];
             peak.generatePeak();
         }},
        {"h", [&] { HClass(&cf).process(rings.keys[0], rings.keys[1]); }},
    };
    // Forked, not run again from the start: the held port is this process's.
    testing::GTEST_FLAG(death_test_style) = "fast";
    for (const auto& stage : stages) {
        const std::string message =
            std::string(stage.label) + " publisher tcp://\\*:" + std::to_string(held.port) + ": Address already in use";
        EXPECT_EXIT(stage.run(), testing::ExitedWithCode(1), message) << stage.label;
    }
}

TEST(Stages, AResultFeedThatCannotBindStaysSilentWhileTheOthersGoOn) {
    Rings rings(1);
    Ports ports;
    HeldPort held;
    ports.heave = held.port;
    ConfigFile cf(0, 0);
    configure(cf, ports);
    Child stage([&] { SubscriptionsClass(&cf).process(rings.keys[0]); });
    zmq::context_t ctx;
    zmq::socket_t vintor = subscriber(ctx, ports.vintor);
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(sleepsOn(rings.keys[0]));
    SharedMem storage(&cf);
    heave_st r = heightRecord(T0, 500);
    storage.add("h", &r, sizeof r);
    setSemaphore(getSemaphore(rings.keys[0]), 1);
    EXPECT_EQ(text(receive(vintor)).substr(0, 36), "time=1765257600000;sensor=radarA;Vin");
}
