// Every program that binds a port, started while another process holds that
// port: it says which endpoint it could not bind and ends with a status of its
// own, never by an abort, so the service manager's restart can follow.
#include <gtest/gtest.h>

#include <json/json.h>

#include <memory>
#include <string>
#include <vector>

#include "harness.h"

using namespace testsupport;

namespace {

// The station's configuration with the sections the programs below need and
// the station does not carry; none for feed-bridge, whose defaults hold.
std::string configuration()
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
    return Json::FastWriter().write(root);
}

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

} // namespace
