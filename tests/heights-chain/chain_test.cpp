// vintor replays a synthetic recording of a surface at a known distance moving
// with a known speed; its feeds must give back that height and that speed.
// Runs in a private namespace: fixed ports, files and semaphore keys.
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

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

void writeConfig(const std::string& path, const std::string& recording) {
    Json::Value root;
    Json::CharReaderBuilder rb;
    std::string errors;
    std::istringstream in(readFile(sourcePath("config/station.json")));
    ASSERT_TRUE(Json::parseFromStream(rb, in, &root, &errors)) << errors;
    Json::Value& radar = root["radar"];
    radar["filename"] = recording;
    radar["scanspeed"] = "50";  // replay faster than real time; record times come from the file
    radar["mountingheight"] = std::to_string(static_cast<int>(MOUNTING));
    radar["mountingangle"] = "0";
    radar["radaroffset"] = "0";
    radar["minimumheight"] = "1";
    radar["maximumheight"] = "20";
    writeFile(path, Json::writeString(Json::StreamWriterBuilder(), root));
}

}  // namespace

TEST(Chain, RecordedSurfaceComesBackAsHeightAndDopplerOnEveryFeed) {
    TempDir dir;
    const std::string recording = dir.file("recording.txt");
    const std::string gen = std::string(REPLAYGEN_BIN) + " -d " + std::to_string(DISTANCE) + " -a " +
                            std::to_string(AMPLITUDE) + " -T " + std::to_string(PERIOD_S) + " -n " +
                            std::to_string(PAIRS) + " -i 250 -t " + std::to_string(T0) + " -s 256 -o " + recording;
    ASSERT_EQ(std::system(gen.c_str()), 0) << gen;
    writeConfig(dir.file("station.json"), recording);
    if (HasFatalFailure()) return;
    writeFile(dir.file("memory.json"), readFile(sourcePath("config/memory.json")));

    ConfigServiceOptions o;
    o.config = dir.file("station.json");
    o.memory = dir.file("memory.json");
    auto service = startConfigService(o);
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
