// drift-mean on the radar program's own "vintor" feed: vintor replays a
// synthetic recording at ten pairs a second of record time, and the minute mean
// drift-mean publishes must be the mean of the velocities the feed carried in
// that minute, as this test reads them from the same feed.
#include <gtest/gtest.h>
#include <json/json.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <thread>

#include "harness.h"
#include "processes.h"

using namespace testsupport;

namespace {

constexpr long long B = 1700000040000; // a minute boundary; the recording starts 30 s before it
constexpr int PAIRS = 930;            // 30 s lost to the start-up, a whole minute, and a bit

TEST(DriftMeanOnVintor, PublishesTheMeanOfTheMinutesDopplerVelocities)
{
    TempDir dir;
    const std::string recording = dir.file("recording.txt");
    const std::string gen = std::string(REPLAYGEN_BIN) + " -d 800 -a 30 -T 25 -n " + std::to_string(PAIRS) +
                            " -i 100 -t " + std::to_string(B - 30000) + " -s 256 -o " + recording;
    ASSERT_EQ(std::system(gen.c_str()), 0) << gen;
    Json::Value root;
    std::istringstream in(readFile(sourcePath("config/station.json")));
    std::string errors;
    ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &root, &errors)) << errors;
    root["radar"]["filename"] = recording;
    root["radar"]["scanspeed"] = "25";
    root["radar"]["mountingheight"] = "1200";
    root["radar"]["mountingangle"] = "0";
    root["radar"]["minimumheight"] = "1";
    root["radar"]["maximumheight"] = "20";
    root["drift-mean"]["subscriberURI"] = "tcp://127.0.0.1:5034";
    root["drift-mean"]["publishers"]["Vdup"] = "5040";
    writeFile(dir.file("station.json"), Json::writeString(Json::StreamWriterBuilder(), root));
    ConfigServiceOptions o;
    o.config = dir.file("station.json");
    auto service = startConfigService(o);
    ASSERT_TRUE(service);

    Subscriber lines("tcp://127.0.0.1:5034"), means("tcp://127.0.0.1:5040");
    Process drift(DRIFT_MEAN_BIN, {"-q"});
    Process vintor(VINTOR_BIN, {"5010", "5011"}, Process::Options{true, "", {}});

    // The velocities of the minute [B, B + 60000), as the feed carries them.
    double sum = 0;
    int count = 0;
    std::string m;
    while (lines.receive(&m, milliseconds(20000))) {
        std::string line(m.c_str());
        long long t = std::atoll(line.c_str() + 5);
        if (t >= B + 60000)
            break;
        size_t v = line.find("Vintor=");
        if (t < B || line.find("NaN") != std::string::npos || v == std::string::npos)
            continue;
        std::stringstream values(line.substr(v + 7));
        std::string piece;
        for (int i = 0; i < 4; i++)
            std::getline(values, piece, ',');
        sum += std::atof(piece.c_str());
        count++;
    }
    ASSERT_GT(count, 450) << vintor.output();
    const std::string one = "time=" + std::to_string(B + 30000) + ";sensor=sensor0;vdup_1=";
    while (m.rfind(one, 0) != 0)
        ASSERT_TRUE(means.receive(&m, milliseconds(10000))) << "no mean for the minute";
    EXPECT_NEAR(std::atof(m.substr(one.size()).c_str()), sum / count, 1e-3) << count << " lines";
    printf("%d lines; mean %.6f, published %s\n", count, sum / count, m.c_str());

    // Even a supervisor killed outright takes its worker with it.
    drift.signal(SIGKILL);
    ASSERT_TRUE(drift.wait(milliseconds(5000)));
    bool gone = false;
    for (int i = 0; i < 100 && !gone; i++, std::this_thread::sleep_for(milliseconds(50)))
        gone = processesNamed("drift-mean").empty();
    EXPECT_TRUE(gone);
}

} // namespace
