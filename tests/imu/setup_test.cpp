// The set-up from configuration against the configuration stand-in and the IMU
// simulator: the exact command sequence for each state the IMU can be in.
#include "configclient.h"
#include "harness.h"
#include "imulink.h"
#include "imusim.h"
#include "imutest.h"

#include <gtest/gtest.h>

using Commands = std::vector<std::string>;
using Changes = std::vector<std::pair<std::string, std::string>>;

namespace {

const Commands GETS_1_TO_7 = {"get,usemode,",    "get,output,list",     "get,output,token", "get,output,id",
                              "get,output,format", "get,output,protocol", "get,output,rate"};
const Commands GETS_8_TO_10 = {"get,mounting,angles", "get,mounting,anglesFine", "getpar,parser,parser_main,InvertAxes"};

Commands join(std::initializer_list<Commands> parts)
{
    Commands all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The log lines that are not exchanges.
Commands messages(const std::vector<std::string>& log)
{
    Commands m;
    for (const auto& l : log)
        if (l.compare(0, 9, "Command: ") != 0)
            m.push_back(l);
    return m;
}

TEST(ImuSetup, BringsTheImuIntoTheConfiguredStateWithExactlyTheCommandsNeeded)
{
    const Commands done = {"Done: Check output usemode", "Done: Check output list",     "Done: Check output token",
                           "Done: Check output id",      "Done: Check output format",   "Done: Check output protocol",
                           "Done: Check output rate",    "Done: Check mounting angles", "Done: Check fine angles",
                           "Done: Check Axes"};
    const Commands pass = join({{"set,output,stop"}, GETS_1_TO_7, GETS_8_TO_10});
    const Commands passRefused = join({{"set,output,stop"}, GETS_1_TO_7, {"set,output,rate,20"}, GETS_8_TO_10});
    const struct {
        const char* name;
        Changes changes;
        const char* control;
        bool save;
        Commands sent;
        Commands tail; // last log messages
        int changed;
    } rows[] = {
        {"already configured", {}, "", false, join({{""}, pass}), {"Configuration: no changes", "Done: Configuring"}, 0},
        {"save enabled, nothing changed", {}, "", true, join({{""}, pass, {"save"}}),
         {"Config has been saved", "Done: Configuring"}, 1},
        {"refused save is retried", {}, "refuse save", true, join({{""}, pass, {"save", "save"}}),
         {"Error: save Settings", "Config has been saved", "Done: Configuring"}, 1},
        {"needs changes",
         {{"imu/output/usemode", "5"},
          {"imu/output/datarate", "20"},
          {"read-only/imu-offset/mounting/roll", "12.7"},
          {"read-only/imu-offset/fine/pitch", "12.7"},
          {"read-only/imu-offset/invert/heave", "-1.9"}},
         "",
         true,
         join({{"", "set,output,stop", "get,usemode,", "set,usemode,,5"},
               Commands(GETS_1_TO_7.begin() + 1, GETS_1_TO_7.end()),
               {"set,output,rate,20", "get,mounting,angles", "set,mounting,angles,[12 0 0]", "get,mounting,anglesFine",
                "set,mounting,anglesFine,[0 12.7 0]", "getpar,parser,parser_main,InvertAxes",
                "setpar,parser,parser_main,InvertAxes,[1 1 1 1 1 -1]", "save"}}),
         {"Config has been saved", "Done: Configuring"},
         1},
        {"a refused parameter repeats the whole pass",
         {{"imu/output/datarate", "20"}},
         "refuse set,output,rate",
         false,
         join({{""}, passRefused, passRefused}),
         {"NoSave: save option is NOT enabled", "Done: Configuring"},
         1},
        {"waits until the IMU answers", {}, "silent-for 2", false, join({{"", "", ""}, pass}),
         {"Configuration: no changes", "Done: Configuring"}, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        ImuSim sim{ImuSimOptions()};
        ASSERT_TRUE(sim.open());
        if (*r.control)
            sim.control(r.control);
        Changes changes = r.changes;
        changes.push_back({"imu/serial/comport", sim.tty()});
        testsupport::TempDir dir;
        testsupport::writeFile(dir.file("config.json"), imutest::stationConfig(changes));
        testsupport::ConfigServiceOptions cs;
        cs.config = dir.file("config.json");
        auto service = testsupport::startConfigServiceOnFreePorts(&cs);
        ASSERT_TRUE(service);
        sim.start();

        ConfigClient config(cs.repPort, cs.pubPort, 0);
        imutest::Captured log;
        ImuLink link(&config, false, r.save, imutest::fastWaits(), log.sink());
        EXPECT_EQ(sim.commands(), r.sent);
        Commands logged = messages(log.lines);
        ASSERT_GE(logged.size(), done.size() + r.tail.size());
        EXPECT_EQ(Commands(logged.end() - r.tail.size(), logged.end()), r.tail);
        EXPECT_EQ(Commands(logged.end() - r.tail.size() - done.size(), logged.end() - r.tail.size()), done);
        EXPECT_EQ(link.settingsChanged, r.changed);
        EXPECT_EQ(link.outputId, "X1");
        EXPECT_EQ(link.devicePath, sim.tty());
    }
}

} // namespace
