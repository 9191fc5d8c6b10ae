// climate-sensor: conversions, its configuration, and the program run under
// the I2C simulator with the configuration stand-in.
#include <gtest/gtest.h>

#include <json/json.h>

#include <chrono>
#include <regex>

#include "climate.h"
#include "harness.h"
#include "i2csimrun.h"

namespace {

using testsupport::milliseconds;
using testsupport::TempDir;

std::string twoDecimals(float v)
{
    char text[32];
    snprintf(text, sizeof text, "%.2f", double(v));
    return text;
}

TEST(ClimateSensor, ConvertsTheSensorsBytes)
{
    // raw = msb * 256 + (lsb & 0xFC); T = raw / 65536 * 175.72 - 46.85; RH = raw / 65536 * 125 - 6.
    const struct {
        uint8_t msb, lsb;
        const char *temperature, *humidity;
    } rows[] = {
        {0x66, 0x4C, "23.37", "43.95"}, // raw 26188
        {0x7C, 0x82, "38.61", "54.79"}, // raw 31872: the status bits 0x02 are masked
        {0x7C, 0x80, "38.61", "54.79"},
        {0x00, 0x00, "-46.85", "-6.00"},
        {0xFF, 0xFF, "128.86", "118.99"}, // raw 65532
        {0x00, 0x03, "-46.85", "-6.00"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(twoDecimals(climate::temperatureOf(row.msb, row.lsb)), row.temperature) << int(row.msb);
        EXPECT_EQ(twoDecimals(climate::humidityOf(row.msb, row.lsb)), row.humidity) << int(row.msb);
    }
}

TEST(ClimateSensor, ReadsItsOwnSection)
{
    const struct {
        std::string reply;
        int status;
        std::string publisher, name;
        int64_t delayUs;
    } rows[] = {
        {R"({"success":{"climate-sensor":{"publishers":{"data":"5050"},"delay":"10","sensorname":"roof"}}})", 0,
         "tcp://*:5050", "roof", 10000000},
        {R"({"success":{"climate-sensor":{"publishers":{"data":"5050"},"delay":"0.5"}}})", 0, "tcp://*:5050", "health",
         500000},
        // No usable delay: the command line's stays.
        {R"({"success":{"climate-sensor":{"publishers":{"data":"5050"}}}})", 0, "tcp://*:5050", "health", -1},
        {R"({"success":{"climate-sensor":{"delay":"-5"}}})", 0, "tcp://*:", "health", -1},
        {R"({"success":{"climate-sensor":{"delay":"1e300"}}})", 0, "tcp://*:", "health", -1},
        {R"({"success":{"climate-sensor":{"delay":7}}})", 0, "tcp://*:", "health", -1},
        {R"({"success":{"configurator":{}}})", 1, "", "", 0},
        {R"({"success":{"climate-sensor":"x"}})", 1, "", "", 0},
        {R"({"success":"ok"})", 1, "", "", 0},
        {R"({"error":"no"})", 1, "", "", 0},
        {R"([1])", 1, "", "", 0},
        {"not json", 30, "", "", 0},
    };
    for (const auto& row : rows) {
        climate::SensorConfig c;
        std::string message;
        EXPECT_EQ(climate::parseConfigReply(row.reply, "climate-sensor", &c, &message), row.status) << row.reply;
        if (row.status != 0)
            continue;
        EXPECT_EQ(c.publisher, row.publisher) << row.reply;
        EXPECT_EQ(c.sensorName, row.name) << row.reply;
        EXPECT_EQ(c.delayUs, row.delayUs) << row.reply;
    }
    EXPECT_EQ(climate::endpointOf("127.0.0.1:5010"), "tcp://127.0.0.1:5010");
    EXPECT_EQ(climate::endpointOf("tcp://10.0.0.1:6000"), "tcp://10.0.0.1:6000");
    EXPECT_EQ(climate::endpointOf("ipc:///tmp/config"), "ipc:///tmp/config");
}

TEST(ClimateSensor, WritesNamesAsJson)
{
    EXPECT_EQ(climate::setmemRequest("health", 23.37f, 54.79f),
              R"({"setmem":{"sensors":{"sensorname":"health","temperature":23.37,"humidity":54.79}}})");
    EXPECT_EQ(climate::readingLine(1700000000123, "health", 23.37f, 54.79f),
              "time=1700000000123;sensor=health;temperature=23.37C;humidity=54.79%");
    Json::Value v;
    Json::Reader reader;
    ASSERT_TRUE(reader.parse(climate::setmemRequest("a\"b\\c", -1.5f, 0), v));
    EXPECT_EQ(v["setmem"]["sensors"]["sensorname"], "a\"b\\c");
    EXPECT_EQ(v["setmem"]["sensors"]["temperature"].asDouble(), -1.5);
}

// The stand-in holding the program's own section (publisher on a free port and
// the given extra keys), or none.
struct Bench {
    TempDir d;
    testsupport::ConfigServiceOptions cs;
    std::unique_ptr<testsupport::Process> service;
    int dataPort = testsupport::freePort();

    explicit Bench(const std::string& extraKeys = "", bool ownSection = true, const std::string& reply = "")
    {
        const std::string section =
            R"({"publishers":{"data":")" + std::to_string(dataPort) + "\"}" + extraKeys + "}";
        testsupport::writeFile(d.file("config.json"), R"({"configurator":{"version":"1")" +
                                                          (ownSection ? "},\"climate-sensor\":" + section : "}") + "}");
        cs.config = d.file("config.json");
        cs.requestLog = d.file("requests");
        cs.reply = reply;
        service = testsupport::startConfigServiceOnFreePorts(&cs);
    }
    std::string endpoint() const { return "127.0.0.1:" + std::to_string(cs.repPort); }
    std::vector<std::string> setmems() const
    {
        std::vector<std::string> out;
        for (const auto& r : testsupport::readRequestLog(cs.requestLog))
            if (r.find("setmem") != std::string::npos)
                out.push_back(r);
        return out;
    }
};

const std::vector<std::string> SENSOR = {"--temperature", "0x66,0x4c,0x00", "--humidity", "0x7c,0x82,0x00"};
const std::string SETMEM = R"({"setmem":{"sensors":{"sensorname":"health","temperature":23.37,"humidity":54.79}}})";

TEST(ClimateSensorProgram, PublishesAndStoresOneReading)
{
    Bench b;
    ASSERT_TRUE(b.service);
    testsupport::Subscriber feed("tcp://127.0.0.1:" + std::to_string(b.dataPort));
    // The measurements take 0.8 s, as the chip's do: time for the feed to connect.
    std::vector<std::string> sim = SENSOR;
    sim.insert(sim.end(), {"--conversion", "400"});
    const auto before = std::chrono::system_clock::now();
    SimRun r = i2cSim(sim, {"climate-sensor", "-c", b.endpoint(), "-o"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(r.writes, "40: e3\n40: e5\n");
    std::string line;
    ASSERT_TRUE(feed.receive(&line, milliseconds(2000)));
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, std::regex("time=(\\d+);sensor=health;temperature=23.37C;humidity=54.79%")))
        << line;
    const long long ms = std::stoll(m[1]);
    const long long startMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(before.time_since_epoch()).count();
    EXPECT_GE(ms, startMs);
    EXPECT_FALSE(feed.receive(&line, milliseconds(300))) << "one reading only";
    EXPECT_EQ(b.setmems(), std::vector<std::string>{SETMEM});
}

TEST(ClimateSensorProgram, ReadsCountTimesAndTalksWhenCounting)
{
    Bench b(R"(,"delay":"0")");
    ASSERT_TRUE(b.service);
    // The section's delay 0 replaces the command line's 600 s.
    SimRun r = i2cSim(SENSOR, {"climate-sensor", "-c", b.endpoint(), "-n", "3"});
    EXPECT_EQ(r.status, 0);
    size_t temps = 0, hums = 0;
    for (size_t at = 0; (at = r.output.find("Temp : 23.37C\n", at)) != std::string::npos; at++)
        temps++;
    for (size_t at = 0; (at = r.output.find("RH   : 54.79%\n", at)) != std::string::npos; at++)
        hums++;
    EXPECT_EQ(temps, 3u);
    EXPECT_EQ(hums, 3u);
    EXPECT_NE(r.output.find("Starting publisher: tcp://*:" + std::to_string(b.dataPort) + "\n"), std::string::npos);
    EXPECT_NE(r.output.find("Sending data to config mem " + SETMEM + "\n"), std::string::npos);
    EXPECT_EQ(b.setmems(), std::vector<std::string>(3, SETMEM));
}

TEST(ClimateSensorProgram, KeepsTheCommandLineDelayWithoutOneConfigured)
{
    Bench b;
    ASSERT_TRUE(b.service);
    const auto start = std::chrono::steady_clock::now();
    SimRun r = i2cSim(SENSOR, {"climate-sensor", "-c", "tcp://" + b.endpoint(), "-d", "1", "-n", "2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(1000)) << "no flood of readings";
    EXPECT_EQ(b.setmems().size(), 2u);
}

TEST(ClimateSensorProgram, SkipsAFailedReadingAndEndsOnBusFailures)
{
    TempDir d;
    const struct {
        std::vector<std::string> sim;
        std::string reply;
        bool ownSection;
        std::vector<std::string> args;
        int status;
        std::string output;
    } rows[] = {
        {{"--fault", "read"}, "", true, {"-o"}, 1, "*Could not read the sensor (command 0xE3)\n"},
        {{"--fault", "short-read"}, "", true, {"-o"}, 1, "*Could not read the sensor (command 0xE3)\n"},
        {{"--fault", "open"}, "", true, {"-o"}, 1, "*Could not open I2C bus 2\n"},
        {{"--device", d.file("i2c-%d")}, "", true, {"-o"}, 1, "*Could not open I2C bus 2\n"},
        {{"--device", "/dev/null"}, "", true, {"-o"}, 1, "*Could set slave address to 64\n"},
        {{}, "nonjson", true, {"-o"}, 30, "Failed to parse JSON\r\n"},
        {{}, "nosuccess", true, {"-o"}, 1, "Configuration not found\n"},
        {{}, "", false, {"-o"}, 1, "Configuration not found: no section \"climate-sensor\"\n"},
        {{}, "", true, {"-d", "-5"}, 1, "The delay must be a number of seconds, 0 or more: -d -5\n"},
        {{}, "", true, {"-n", "abc"}, 1, "The count must be a whole number, 0 or more: -n abc\n"},
        {{}, "", true, {"-n", ""}, 1, "The count must be a whole number, 0 or more: -n \n"},
        {{}, "", true, {"-n", "3x"}, 1, "The count must be a whole number, 0 or more: -n 3x\n"},
        {{}, "", true, {"-n", "-2"}, 1, "The count must be a whole number, 0 or more: -n -2\n"},
        {{}, "", true, {"-x"}, 1, "climate-sensor: invalid option -- 'x'\nclimate-sensor will fetch zmq messages and presents them local.\nUnknown option `-x'.\n"},
        {{}, "", true, {"-h"}, 1, "climate-sensor will fetch zmq messages and presents them local.\nUnknown option `-h'.\n"},
    };
    for (const auto& row : rows) {
        Bench b("", row.ownSection, row.reply);
        ASSERT_TRUE(b.service);
        std::vector<std::string> program = {"climate-sensor", "-c", b.endpoint()};
        program.insert(program.end(), row.args.begin(), row.args.end());
        std::vector<std::string> sim = SENSOR;
        sim.insert(sim.end(), row.sim.begin(), row.sim.end());
        SimRun r = i2cSim(sim, program);
        const std::string label = ::testing::PrintToString(row.sim) + ::testing::PrintToString(row.args);
        EXPECT_EQ(r.status, row.status) << label << "\n" << r.output;
        EXPECT_EQ(r.output.substr(0, row.output.size()), row.output) << label;
        EXPECT_TRUE(b.setmems().empty()) << label << ": nothing stored";
    }
}

} // namespace
