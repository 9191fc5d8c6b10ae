// The configuration service stops while a program waits for its answer, and
// starts again: the program is answered by the service that came back and goes
// on, with nothing it was storing lost.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

using namespace testsupport;

namespace {

// True once the service's log holds a request containing text.
bool logged(const std::string& log, const std::string& text, milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    do {
        for (const auto& r : readRequestLog(log))
            if (r.find(text) != std::string::npos)
                return true;
        std::this_thread::sleep_for(milliseconds(20));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

std::string memoryOf(const std::string& query)
{
    std::string reply;
    request("tcp://127.0.0.1:5010", query, &reply);
    return reply;
}

TEST(ConfigServiceOutage, AProgramWaitingForAnAnswerIsAnsweredByTheServiceThatCameBack)
{
    const struct {
        const char* name;
        std::string program;
        std::vector<std::string> args;
        const char* memory;
        const char* verb; // the request that is pending when the service stops
        bool ends;
        std::function<void()> check; // against the service that came back
    } rows[] = {
        {"an action's deletion", SCRIPT_LAUNCHER_BIN, {"-q"}, R"({"actions":{"a":"echo a >> /tmp/ran"}})", "deletemem",
         false,
         [] {
             EXPECT_EQ(memoryOf(R"({"getmem":{"actions":""}})"), R"({"success":{"actions":{}}})") << "deleted";
             writeFile("/tmp/script-launcher/s.sh", "echo s >> /tmp/ran\n");
             for (int i = 0; i < 500 && readFile("/tmp/ran") != "a\ns\n"; i++)
                 std::this_thread::sleep_for(milliseconds(20));
             EXPECT_EQ(readFile("/tmp/ran"), "a\ns\n") << "the action once, then the script";
         }},
        {"a tilt result", TILT_AVERAGE_BIN, {"-q"}, "{}", "setmem", true,
         [] {
             EXPECT_EQ(memoryOf(R"({"getmem":{"system":""}})"), R"({"success":{"system":{"tilt":{"fast":"nan"}}}})");
             EXPECT_EQ(readFile("/tmp/tiltAvgFast.txt"), "nan");
         }},
        {"a climate reading", I2C_SIM_BIN,
         {"--temperature", "0x66,0x4c,0x00", "--humidity", "0x7c,0x82,0x00", "climate-sensor", "-o"}, "{}", "setmem",
         true,
         [] {
             const std::string sensors = memoryOf(R"({"getmem":{"sensors":""}})");
             EXPECT_NE(sensors.find(R"("sensorname":"health","temperature":23.37)"), std::string::npos) << sensors;
         }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        TempDir d;
        writeFile(d.file("config.json"), R"({"configurator":{"version":"1"},"tilt-average":{},
            "RTIMULibDrive":{"publishers":{"rawIMU-pub":"5060"}},"climate-sensor":{"publishers":{"data":"5061"}}})");
        writeFile(d.file("memory.json"), r.memory);
        ConfigServiceOptions o;
        o.config = d.file("config.json");
        o.memory = d.file("memory.json");
        o.requestLog = d.file("first.log");
        o.delay = std::string(r.verb) + ":600000";
        auto service = startConfigService(o);
        ASSERT_TRUE(service);
        Process::Options po;
        po.mergeStderr = true;
        Process p(r.program, r.args, po);
        ASSERT_TRUE(logged(o.requestLog, r.verb, milliseconds(20000))) << (p.drain(milliseconds(100)), p.output());
        service.reset(); // stopped before it answered
        EXPECT_TRUE(p.running());

        o.requestLog = d.file("second.log");
        o.delay.clear();
        service = startConfigService(o);
        ASSERT_TRUE(service);
        EXPECT_TRUE(logged(o.requestLog, r.verb, milliseconds(20000))) << "asked again";
        if (r.ends) {
            ASSERT_TRUE(p.wait(milliseconds(20000))) << (p.drain(milliseconds(100)), p.output());
            EXPECT_EQ(p.exitCode(), 0) << p.output();
        }
        r.check();
        EXPECT_EQ(p.running(), !r.ends);
    }
}

} // namespace
