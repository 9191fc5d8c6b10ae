// Every program that binds a port, started while another process holds that
// port: it says which endpoint it could not bind and ends with a status of its
// own, never by an abort, so the service manager's restart can follow.
#include <gtest/gtest.h>

#include <json/json.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"

using namespace testsupport;

namespace {

// The station's configuration with the sections the programs below need and
// the station does not carry; none for feed-bridge, whose defaults hold.
Json::Value configurationTree()
{
    Json::Value root;
    Json::Reader().parse(readFile(sourcePath("config/station.json")), root);
    root.removeMember("feed-bridge");
    Json::Value& corrector = root["heave-corrector"];
    corrector["subscribers"]["heave"] = "127.0.0.1:5070";
    corrector["subscribers"]["imu"] = "127.0.0.1:5071";
    corrector["publishers"]["corrected-heave"] = "5072";
    corrector["timelag"]["value"] = "0";
    root["climate-sensor"]["publishers"]["data"] = "5073";
    return root;
}

std::string configuration() { return Json::FastWriter().write(configurationTree()); }

TEST(ProgramsThatCannotBind, SayWhichEndpointAndEndWithAStatusOfTheirOwn)
{
    TempDir d;
    auto service = startConfigServiceWith(d, configuration());
    ASSERT_TRUE(service);
    const struct {
        const char* program;
        std::vector<std::string> args;
        int port;
        const char* message;
        bool imu; // the IMU must be there before the reader binds
    } rows[] = {
        {FEED_BRIDGE_BIN, {"-q"}, 5051, "feed-bridge publisher tcp://*:5051: Address already in use", false},
        {DRIFT_MEAN_BIN, {"-q"}, 5040, "drift-mean publisher tcp://*:5040: Address already in use", false},
        {MOTION_SENTINEL_BIN, {"-q"}, 5095, "alert publisher tcp://*:5095: Address already in use", false},
        {HEAVE_CORRECTOR_BIN, {"-q"}, 5072, "corrected-heave publisher tcp://*:5072: Address already in use", false},
        {CLIMATE_SENSOR_BIN, {"-o"}, 5073, "Cannot start publisher tcp://*:5073: Address already in use", false},
        {TARNIX_BIN, {"-q"}, 5020, "Error binding publisher tcp://*:5020: Address already in use", false},
        {IMU_READER_BIN, {}, 5090, "imu publisher tcp://*:5090: Address already in use", true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.program);
        Publisher taken(r.port);
        std::unique_ptr<Process> sim;
        if (r.imu) {
            sim.reset(new Process(IMU_SIM_BIN, {"-l", "/tmp/imu0"}));
            ASSERT_TRUE(sim->waitForLine("imu-sim ready", milliseconds(5000)));
        }
        Process::Options o;
        o.mergeStderr = true;
        o.environment = {"IMU_READER_WAIT_SCALE=0.1"};
        Process p(r.program, r.args, o);
        ASSERT_TRUE(p.wait(milliseconds(30000))) << (p.drain(milliseconds(100)), p.output());
        EXPECT_EQ(p.exitCode(), 1) << "not an abort (134)";
        p.drain(milliseconds(100));
        EXPECT_NE(p.output().find(r.message), std::string::npos) << p.output();
    }
}

// A port that is none, configured or on the command line, bound or connected:
// the library would take it modulo 65536 (99999 as 34463) or 0 as any port.
// The program names it and ends with 1, as for a port that is taken (a relay
// service whose configuration request fails: 3, as for any failed request).
TEST(ProgramsGivenAPortThatIsNone, NameItAndEndAsForAPortTheyCannotUse)
{
    const struct {
        const char* program;
        std::vector<std::string> args;
        std::function<void(Json::Value&)> configure;
        const char* message;
        int status = 1;
    } rows[] = {
        {HEAVE_CORRECTOR_BIN, {"-q"}, [](Json::Value& c) { c["heave-corrector"]["publishers"]["corrected-heave"] = "99999"; },
         "corrected-heave publisher tcp://*:99999: not a port number (1-65535)"},
        {HEAVE_CORRECTOR_BIN, {"-q"}, [](Json::Value& c) { c["heave-corrector"]["subscribers"]["imu"] = "127.0.0.1:-1"; },
         "imu subscriber tcp://127.0.0.1:-1: not a port number (1-65535)"},
        {MOTION_SENTINEL_BIN, {"-q"}, [](Json::Value& c) { c["imu"]["publishers"]["status"] = "5093abc"; },
         "status subscriber tcp://127.0.0.1:5093abc: not a port number (1-65535)"},
        {HEAVE_SMOOTHER_BIN, {"-q"}, [](Json::Value& c) { c["heave-smoother"]["subscribe"] = "127.0.0.1:99999"; },
         "heave-smoother subscriber tcp://127.0.0.1:99999: not a port number (1-65535)"},
        {TARNIX_BIN, {"-q"}, [](Json::Value& c) { c["tarnix-pic32"]["publishers"]["rawdata-pub"] = "0"; },
         "Error binding publisher tcp://*:0: not a port number (1-65535)"},
        {FEED_BRIDGE_BIN, {"-q", "-p", "99999"}, nullptr, "Error: -p needs a port number, not \"99999\""},
        {FEED_BRIDGE_BIN, {"-q", "-p", "abc"}, nullptr, "Error: -p needs a port number, not \"abc\""},
        {FEED_BRIDGE_BIN, {"-q", "-s", "127.0.0.1:65536"}, nullptr,
         "feed-bridge subscriber tcp://127.0.0.1:65536: not a port number (1-65535)"},
        {FEED_BRIDGE_BIN, {"-q", "-c", "127.0.0.1:70000"}, nullptr,
         "Configuration request failed: tcp://127.0.0.1:70000: not a port number (1-65535)", 3},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.program) + " " + r.message);
        TempDir d;
        Json::Value config = configurationTree();
        if (r.configure)
            r.configure(config);
        auto service = startConfigServiceWith(d, Json::FastWriter().write(config));
        ASSERT_TRUE(service);
        Process::Options o;
        o.mergeStderr = true;
        Process p(r.program, r.args, o);
        if (!p.wait(milliseconds(15000))) {
            ADD_FAILURE() << "still running: " << (p.drain(milliseconds(100)), p.output());
            continue;  // ended by its destructor; the next row is its own case
        }
        p.drain(milliseconds(100));
        EXPECT_EQ(p.exitCode(), r.status) << p.output();
        EXPECT_NE(p.output().find(r.message), std::string::npos) << p.output();
    }
}

// The services' configured ports are read as the rule says, digits only: the
// texts that strtol reads as 5097 and 1 name no port, so nothing is bound or
// connected there (both are held here, and would be said to be taken or be
// subscribed to) and the program names the text; "5097" itself is bound (said
// to be taken) or connected. The relays leave such a feed out, which leaves
// them none and ends them with 0; the others end as for a port that is taken.
TEST(ConfiguredPorts, AreDigitsOnlyOrNeverBoundNorConnected)
{
    const struct {
        const char* program;
        std::vector<std::string> args;
        std::function<void(Json::Value&, const std::string&)> configure;
        const char* refused; // %s: the text
        int status;
        const char* taken;   // said for a held 5097; null: 5097 is connected to
    } rows[] = {
        {HEADING_ADJUST_BIN, {},
         [](Json::Value& c, const std::string& port) {
             c["heading-adjust"]["subscribers"]["a"] = "127.0.0.1:5090";
             c["heading-adjust"]["publishers"]["a"] = port;
         },
         "Feed a: publisher port \"%s\": not a port number (1-65535); feed skipped", 0,
         "heading-adjust publisher tcp://*:5097: Address already in use"},
        {UNIT_RELAY_BIN, {"-q"},
         [](Json::Value& c, const std::string& port) {
             c["unit-relay"]["subscribers"]["a"]["port"] = "5033";
             c["unit-relay"]["publishers"]["a"] = port;
         },
         "Feed a: publisher port \"%s\": not a port number (1-65535); feed skipped", 0,
         "unit-relay publisher tcp://*:5097: Address already in use"},
        {UNIT_RELAY_BIN, {"-q"},
         [](Json::Value& c, const std::string& port) {
             c["unit-relay"]["subscribers"]["a"]["port"] = port;
             c["unit-relay"]["publishers"]["a"] = "5133";
         },
         "Feed a: port \"%s\": not a port number (1-65535); feed skipped", 0, nullptr},
        {FEED_BRIDGE_BIN, {"-q"},
         [](Json::Value& c, const std::string& port) { c["feed-bridge"]["publishers"]["proxyto"] = port; },
         "feed-bridge publisher tcp://*:%s: not a port number (1-65535)", 1,
         "feed-bridge publisher tcp://*:5097: Address already in use"},
        {HEAVE_SMOOTHER_BIN, {"-q"},
         [](Json::Value& c, const std::string& port) { c["heave-smoother"]["publishers"]["fastport"] = port; },
         "Cannot bind publisher tcp://*:%s: not a port number (1-65535)", 1,
         "Cannot bind publisher tcp://*:5097: Address already in use"},
        {TARNIX_BIN, {"-q"},
         [](Json::Value& c, const std::string& port) { c["tarnix-pic32"]["publishers"]["rawdata-pub"] = port; },
         "Error binding publisher tcp://*:%s: not a port number (1-65535)", 1,
         "Error binding publisher tcp://*:5097: Address already in use"},
    };
    for (const auto& r : rows) {
        for (const std::string port : {"5097abc", "1e12", "5097"}) {
            SCOPED_TRACE(std::string(r.program) + " " + port + " " + r.refused);
            TempDir d;
            Json::Value config = configurationTree();
            r.configure(config, port);
            auto service = startConfigServiceWith(d, Json::FastWriter().write(config),
                                                  R"({"Radars":{"A":{"ip":"127.0.0.1"}}})");
            ASSERT_TRUE(service);
            Publisher held(5097), low(1);
            Process::Options o;
            o.mergeStderr = true;
            Process p(r.program, r.args, o);
            if (port == "5097") {
                if (r.taken != nullptr)
                    EXPECT_TRUE(p.waitForLine(r.taken, milliseconds(15000))) << p.output();
                else
                    EXPECT_TRUE(held.subscribed(milliseconds(15000))) << p.output();
                continue; // ended by its destructor
            }
            if (!p.wait(milliseconds(15000))) {
                ADD_FAILURE() << "still running: " << (p.drain(milliseconds(100)), p.output());
                continue;
            }
            p.drain(milliseconds(100));
            EXPECT_EQ(p.exitCode(), r.status) << p.output();
            char said[200];
            snprintf(said, sizeof said, r.refused, port.c_str());
            EXPECT_NE(p.output().find(said), std::string::npos) << p.output();
            EXPECT_EQ(p.output().find("Address already in use"), std::string::npos) << p.output();
            EXPECT_FALSE(held.subscribed(milliseconds(100)));
            EXPECT_FALSE(low.subscribed(milliseconds(100)));
        }
    }
}

} // namespace
