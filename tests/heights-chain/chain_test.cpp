// vintor replays a synthetic recording of a surface at a known distance moving
// with a known speed; its feeds must give back that height and that speed.
// Runs in a private namespace: fixed ports, files and semaphore keys.
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "feedrecords.h"
#include "harness.h"

using namespace testsupport;
using std::chrono::milliseconds;

namespace {

// The recording: surface 800 cm below the antenna, moving +-30 cm with a 20 s
// period (vertical speed up to 9.4 cm/s), one sweep pair every 250 ms. It is
// replayed at 20 pairs a second; the pairs read before the supervisor has
// started the later stages never reach the feeds.
constexpr double DISTANCE = 800, AMPLITUDE = 30, PERIOD_S = 20, MOUNTING = 1200;
constexpr long long T0 = 1700000000000;
constexpr int PAIRS = 300, LINES = 60;
constexpr double PI = 3.14159265358979323846;

double surfaceHeight(long long t) { return AMPLITUDE * std::sin(2 * PI * (t - T0) / 1000.0 / PERIOD_S); }
double upwardSpeed(long long t) {
    return AMPLITUDE * 2 * PI / PERIOD_S * std::cos(2 * PI * (t - T0) / 1000.0 / PERIOD_S);
}

std::string field(const std::string& line, const std::string& key) {
    const std::size_t at = line.find(key + "=");
    if (at == std::string::npos) return "";
    const std::size_t start = at + key.size() + 1;
    return line.substr(start, line.find(';', start) - start);
}

std::string text(const std::string& frame) { return std::string(frame.c_str()); }

// The stand-in serving the station's configuration and memory, with radar0
// replaying `recording` as this test wants it and then changed by `edit`;
// null when it did not start.
std::unique_ptr<Process> startService(const TempDir& dir, const std::string& recording,
                                      const std::function<void(Json::Value&)>& edit = nullptr) {
    Json::Value root;
    std::string errors;
    std::istringstream in(readFile(sourcePath("config/station.json")));
    if (!Json::parseFromStream(Json::CharReaderBuilder(), in, &root, &errors)) return nullptr;
    Json::Value& radar = root["radar"];
    radar["filename"] = recording;
    radar["scanspeed"] = "50";  // replay faster than real time; record times come from the file
    radar["mountingheight"] = std::to_string(static_cast<int>(MOUNTING));
    radar["mountingangle"] = "0";
    radar["radaroffset"] = "0";
    radar["minimumheight"] = "1";
    radar["maximumheight"] = "20";
    if (edit) edit(root);
    writeFile(dir.file("station.json"), Json::writeString(Json::StreamWriterBuilder(), root));
    writeFile(dir.file("memory.json"), readFile(sourcePath("config/memory.json")));
    ConfigServiceOptions o;
    o.config = dir.file("station.json");
    o.memory = dir.file("memory.json");
    return startConfigService(o);
}

// Writes the test recording; the command line for the failure message.
std::string generateRecording(const std::string& path) {
    const std::string gen = std::string(REPLAYGEN_BIN) + " -d " + std::to_string(DISTANCE) + " -a " +
                            std::to_string(AMPLITUDE) + " -T " + std::to_string(PERIOD_S) + " -n " +
                            std::to_string(PAIRS) + " -i 250 -t " + std::to_string(T0) + " -s 256 -o " + path;
    return std::system(gen.c_str()) == 0 ? "" : gen;
}

}  // namespace

TEST(Chain, RecordedSurfaceComesBackAsHeightAndDopplerOnEveryFeed) {
    TempDir dir;
    const std::string recording = dir.file("recording.txt");
    ASSERT_EQ(generateRecording(recording), "");
    auto service = startService(dir, recording);
    ASSERT_TRUE(service);

    std::map<std::string, std::unique_ptr<Subscriber>> feeds;
    const std::map<std::string, int> ports = {{"fft", 5030},    {"peak", 5031},   {"h", 5032},
                                              {"heave", 5033}, {"vintor", 5034}, {"reflection", 5035}};
    for (const auto& [name, port] : ports)
        feeds[name] = std::make_unique<Subscriber>("tcp://127.0.0.1:" + std::to_string(port));

    Process vintor(VINTOR_BIN, {"5010", "5011"}, Process::Options{true, "", {}});

    // Heave and vintor lines of the same record come one after the other.
    int valid = 0, lines = 0;
    std::string invalid;  // the first few, for the failure message
    double worstHeight = 0, sumHeight = 0, worstSpeed = 0, sumSpeed = 0;
    std::string message;
    while (lines < LINES && feeds["heave"]->receive(&message, milliseconds(15000))) {
        ASSERT_EQ(message.size(), 200u);
        const std::string heave = text(message);
        ASSERT_TRUE(feeds["vintor"]->receive(&message, milliseconds(5000)));
        ASSERT_EQ(message.size(), 400u);
        const std::string line = text(message);
        const long long t = std::atoll(field(heave, "time").c_str());
        ASSERT_EQ(field(line, "time"), field(heave, "time"));
        ASSERT_TRUE(t >= T0 && t < T0 + 250LL * PAIRS) << "not a recorded pair: " << line;
        ++lines;
        if (field(heave, "heave") == "NaNcm") {
            if (invalid.size() < 2000) invalid += line + "\n";
            continue;
        }
        ++valid;
        const double h = std::atof(field(heave, "heave").c_str());
        const double hErr = h - (MOUNTING - DISTANCE + surfaceHeight(t));
        worstHeight = std::max(worstHeight, std::fabs(hErr));
        sumHeight += hErr;
        // The fourth value of the vintor line is the Doppler speed in cm/s.
        std::vector<double> v;
        std::string values = field(line, "Vintor");
        for (std::size_t p = 0; p != std::string::npos;) {
            const std::size_t c = values.find(',', p);
            v.push_back(std::atof(values.substr(p, c == std::string::npos ? c : c - p).c_str()));
            p = c == std::string::npos ? c : c + 1;
        }
        ASSERT_EQ(v.size(), 10u) << line;
        EXPECT_NEAR(v[2], h, 1e-3);
        const double vErr = v[3] - upwardSpeed(t);
        worstSpeed = std::max(worstSpeed, std::fabs(vErr));
        sumSpeed += vErr;
    }
    std::printf("lines %d valid %d; height error mean %.3f cm worst %.3f cm; Doppler error mean %.3f cm/s worst "
                "%.3f cm/s\n",
                lines, valid, valid ? sumHeight / valid : NAN, worstHeight, valid ? sumSpeed / valid : NAN,
                worstSpeed);
    if (lines < LINES) vintor.drain(milliseconds(500));
    ASSERT_EQ(lines, LINES) << vintor.output();
    EXPECT_GE(valid, lines - 2) << invalid;
    EXPECT_LT(worstHeight, 2.0);
    EXPECT_LT(worstSpeed, 1.0);

    // Every feed carries messages of its own size.
    const std::map<std::string, std::size_t> sizes = {{"fft", 17248}, {"peak", 1624}, {"h", 92}};
    for (const auto& [name, size] : sizes) {
        ASSERT_TRUE(feeds[name]->receive(&message, milliseconds(5000))) << name;
        EXPECT_EQ(message.size(), size) << name;
    }
    ASSERT_TRUE(feeds["reflection"]->receive(&message, milliseconds(5000)));
    EXPECT_EQ(message.substr(0, 5), "time=");
    EXPECT_NE(message.find(";Diag="), std::string::npos);

    // The share of valid data reached the service's memory.
    std::string reply;
    ASSERT_TRUE(request("tcp://127.0.0.1:5010", "{\"getmem\":{\"status\":{\"vintor\":{\"validDataPoints\":\"\"}}}}",
                        &reply));
    Json::Value r;
    std::istringstream in(reply);
    std::string errors;
    ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &r, &errors)) << reply;
    const std::string share = r["success"]["status"]["vintor"]["validDataPoints"].asString();
    EXPECT_GE(std::atof(share.c_str()), 80.0) << reply;
}

namespace {

// The vintor lines, by recording time, of a run whose radar0 takes the pairs of
// `recording` from replay-peer through the network replay front-end, up to the
// pair of time `until`.
std::map<long long, std::string> networkReplayLines(const TempDir& dir, const std::string& recording,
                                                    long long until, std::string* log) {
    auto service = startService(dir, recording, [](Json::Value& root) {
        root["radar"]["brand"] = "readudp";
        root["radar"]["portnumber"] = "3010";
        // Supervisor lines show when the last stage of the chain has started.
        root["vintor"]["vintor"]["debug"] = "1";
    });
    std::map<long long, std::string> lines;
    if (!service) return lines;
    Subscriber feed("tcp://127.0.0.1:5034");
    Process vintor(VINTOR_BIN, {"5010", "5011"}, Process::Options{true, "", {}});
    if (!vintor.waitForLine("Heave pid=", milliseconds(20000))) {
        *log = vintor.output();
        return lines;
    }
    // From the recording's first pair on, 40 pairs a second: a pace every stage keeps up with.
    Process peer(REPLAY_PEER_BIN, {"-p", "3010", "-i", "25", recording});
    std::string message;
    while (feed.receive(&message, milliseconds(10000))) {
        const std::string line = text(message);
        const long long t = std::atoll(field(line, "time").c_str());
        if (t < T0 || t >= T0 + 250LL * PAIRS) continue;  // a failed measurement: wall-clock time
        lines[t] = line;
        if (t >= until) break;
    }
    vintor.drain(milliseconds(100));
    *log = vintor.output();
    return lines;
}

}  // namespace

// One broken up-sweep line costs its own pair only: whatever it holds (text,
// too few fields, more than a receive takes), the pairs after it give exactly
// the lines of a clean replay.
TEST(Chain, ABrokenLineInANetworkReplayCostsItsPairOnly) {
    TempDir dir;
    const std::string clean = dir.file("clean.txt"), broken = dir.file("broken.txt");
    ASSERT_EQ(generateRecording(clean), "");
    std::vector<std::string> recorded;
    {
        std::istringstream in(readFile(clean));
        for (std::string l; std::getline(in, l);) recorded.push_back(l);
    }
    ASSERT_EQ(recorded.size(), 2u * PAIRS);
    const std::map<int, std::string> damage = {
        {20, "a line of text with no sweep"},
        {40, "raw=replaygen;" + std::to_string(T0 + 250 * 40) + ";80"},
        {60, "raw=replaygen;" + std::to_string(T0 + 250 * 60) + ";120;" + std::string(20000, '7')},
    };
    std::string text;
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        auto d = damage.find(static_cast<int>(i / 2));
        text += (i % 2 == 0 && d != damage.end() ? d->second : recorded[i]) + "\n";
    }
    writeFile(broken, text);

    const long long until = T0 + 250LL * 80;
    std::string log;
    const auto expected = networkReplayLines(dir, clean, until, &log);
    ASSERT_TRUE(expected.count(until)) << log;
    const auto got = networkReplayLines(dir, broken, until, &log);
    ASSERT_TRUE(got.count(until)) << log;
    // A stage that falls behind on a loaded machine may skip a pair in either
    // run; every pair both runs gave must be the same, well past the last break.
    int same = 0, sameAfterLast = 0;
    for (int p = 0; p <= 80; ++p) {
        const long long t = T0 + 250LL * p;
        if (damage.count(p)) {
            EXPECT_EQ(got.count(t), 0u) << "pair " << p << " has a broken line";
        } else if (expected.count(t) && got.count(t)) {
            EXPECT_EQ(got.at(t), expected.at(t)) << "pair " << p;
            ++same;
            sameAfterLast += p > 60;
        }
    }
    EXPECT_GE(same, 40) << "too few pairs in both runs";
    EXPECT_GE(sameAfterLast, 10) << "too few pairs after the last broken one";
}

// Settings no station should have, in two radars replaying the same recording:
// a mounting angle that is no number gives the NaN line with its own code
// (20), never a line of the valid form holding "nan"; a measuring range of
// +-1e30 m still gives heights. No stage fails and restarts on either.
TEST(Chain, AbsurdSettingsGiveHeightsOrTheNaNLineAndNoStageRestarts) {
    TempDir dir;
    const std::string recording = dir.file("recording.txt");
    ASSERT_EQ(generateRecording(recording), "");
    auto service = startService(dir, recording, [](Json::Value& root) {
        root["radar"]["scanspeed"] = "100";
        root["radar3"] = root["radar"];
        root["radar"]["mountingangle"] = "nan";
        root["radar3"]["minimumheight"] = "-1e30";
        root["radar3"]["maximumheight"] = "1e30";
        root["radar3"]["radarname"] = "radar2";
        root["vintor"]["vintor"]["debug"] = "1";  // the supervisor reports every stage it reaps
        root["vintor"]["module"]["housekeeping"] = "0";  // which ends at once, by design
    });
    ASSERT_TRUE(service);
    Subscriber vintorFeed("tcp://127.0.0.1:5034"), heaveFeed("tcp://127.0.0.1:5033");
    Process vintor(VINTOR_BIN, {"5010", "5011"}, Process::Options{true, "", {}});

    std::map<std::string, int> lines, valid, code20;
    std::string message;
    while ((lines["radar0"] < 20 || lines["radar2"] < 20) && vintorFeed.receive(&message, milliseconds(20000))) {
        const std::string line = text(message);
        const std::string sensor = field(line, "sensor");
        ++lines[sensor];
        EXPECT_EQ(line.find("nan"), std::string::npos) << line;
        EXPECT_EQ(line.find("inf"), std::string::npos) << line;
        if (field(line, "Vintor") != "NaN") ++valid[sensor];
        if (line.find("Vintor=NaN;Value=20") != std::string::npos) ++code20[sensor];
        if (sensor == "radar2" && field(line, "Vintor") != "NaN") {
            const double h = std::atof(field(line, "Vintor").substr(field(line, "Vintor").find(',') + 1).c_str());
            EXPECT_EQ(h, 0.0) << "the mounting angle, second value: " << line;
        }
    }
    vintor.drain(milliseconds(200));
    ASSERT_GE(lines["radar0"], 20) << vintor.output();
    ASSERT_GE(lines["radar2"], 20) << vintor.output();
    EXPECT_EQ(valid["radar0"], 0);
    EXPECT_GE(code20["radar0"], lines["radar0"] - 2);
    EXPECT_GE(valid["radar2"], lines["radar2"] - 2);
    while (heaveFeed.receive(&message, milliseconds(100))) {
        const std::string heave = text(message);
        if (field(heave, "sensor") == "radar0") {
            EXPECT_EQ(field(heave, "heave"), "NaNcm") << heave;
        }
    }
    EXPECT_EQ(vintor.output().find("\nStopped "), std::string::npos) << vintor.output();
    EXPECT_TRUE(vintor.running());
}

// A radar offset that is no finite number ("inf", "-inf", "1e309", which reads
// as inf) gives no distance: in three radars replaying the same recording every
// pair takes the invalid path with fault code 20 alone, on every feed, and no
// infinite value reaches a line or an "h" record.
TEST(Chain, ARadarOffsetThatIsNoNumberGivesTheNaNLineOnEveryFeed) {
    TempDir dir;
    const std::string recording = dir.file("recording.txt");
    ASSERT_EQ(generateRecording(recording), "");
    const std::map<std::string, std::string> offsets = {{"radar0", "inf"}, {"radar1", "-inf"}, {"radar2", "1e309"}};
    auto service = startService(dir, recording, [&](Json::Value& root) {
        root["radar"]["scanspeed"] = "100";
        root["radar2"] = root["radar3"] = root["radar"];
        const char* sections[] = {"radar", "radar2", "radar3"};
        const char* names[] = {"radar0", "radar1", "radar2"};
        for (int i = 0; i < 3; ++i) {
            root[sections[i]]["radarname"] = names[i];
            root[sections[i]]["radaroffset"] = offsets.at(names[i]);
        }
        root["vintor"]["module"]["housekeeping"] = "0";
    });
    ASSERT_TRUE(service);
    Subscriber vintorFeed("tcp://127.0.0.1:5034"), heaveFeed("tcp://127.0.0.1:5033"), hFeed("tcp://127.0.0.1:5032"),
        reflectionFeed("tcp://127.0.0.1:5035");
    Process vintor(VINTOR_BIN, {"5010", "5011"}, Process::Options{true, "", {}});

    std::map<std::string, int> lines, code20;
    std::string message;
    auto enough = [&] {
        for (const auto& o : offsets)
            if (lines[o.first] < 12) return false;
        return true;
    };
    while (!enough() && vintorFeed.receive(&message, milliseconds(20000))) {
        const std::string line = text(message);
        ++lines[field(line, "sensor")];
        EXPECT_EQ(line.find("inf"), std::string::npos) << line;
        EXPECT_EQ(line.find("nan"), std::string::npos) << line;
        if (line.find("Vintor=NaN;Value=20") != std::string::npos) ++code20[field(line, "sensor")];
    }
    vintor.drain(milliseconds(100));
    for (const auto& o : offsets) {
        ASSERT_GE(lines[o.first], 12) << o.second << vintor.output();
        EXPECT_GE(code20[o.first], lines[o.first] - 2) << o.second;
    }
    // The other feeds have queued theirs since the start.
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(heaveFeed.receive(&message, milliseconds(5000)));
        EXPECT_EQ(field(text(message), "heave"), "NaNcm") << text(message);
    }
    int infinite = 0;
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(hFeed.receive(&message, milliseconds(5000)));
        ASSERT_EQ(message.size(), sizeof(heave_st));
        heave_st h;
        std::memcpy(&h, message.data(), sizeof h);
        const float values[] = {h.distance[0], h.distance[1], h.distanceAvg, h.VDoppler, h.Dup,
                                h.Ddown,       h.Ep[0],       h.Ep[1],       h.energy[0], h.energy[1]};
        infinite += std::count_if(std::begin(values), std::end(values), [](float v) { return std::isinf(v); }) > 0;
        EXPECT_EQ(h.nrOfSweeps, 0);
    }
    EXPECT_EQ(infinite, 0) << "of 30 h records";
    // One line after every 8th record.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(reflectionFeed.receive(&message, milliseconds(5000)));
        const std::string tail = message.substr(message.find(";Window="));
        EXPECT_EQ(message.find("inf"), std::string::npos) << tail;
        EXPECT_NE(tail.find(";SC=NaNm,"), std::string::npos) << tail;
    }
}
