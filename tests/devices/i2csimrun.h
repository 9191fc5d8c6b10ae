// Runs an I2C program under tools/i2c-sim and collects what it did.
#pragma once

#include <string>
#include <vector>

#include "harness.h"

struct SimRun {
    int status = -1;
    std::string output; // stdout and stderr merged
    std::string writes; // the chips' write log
};

inline SimRun i2cSim(const std::vector<std::string>& simOptions, const std::vector<std::string>& program)
{
    testsupport::TempDir d;
    std::vector<std::string> args = simOptions;
    args.insert(args.end(), {"--log", d.file("writes")});
    args.insert(args.end(), program.begin(), program.end());
    testsupport::Process::Options o;
    o.mergeStderr = true;
    testsupport::Process p(I2C_SIM_BIN, args, o);
    SimRun r;
    p.drain(testsupport::milliseconds(20000));
    EXPECT_TRUE(p.wait(testsupport::milliseconds(10000)));
    r.status = p.exitCode();
    r.output = p.output();
    r.writes = testsupport::readFile(d.file("writes"));
    return r;
}
