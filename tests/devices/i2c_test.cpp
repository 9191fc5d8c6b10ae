// The i2c-dev routines on real device nodes, and gpio-expander run as a process
// against the simulated chips (no I2C bus exists on this machine).
#include <gtest/gtest.h>

#include <cerrno>

#include "harness.h"
#include "i2c.h"
#include "i2csimrun.h"

namespace {

using testsupport::TempDir;

TEST(I2cRoutines, ReportEveryFailureOfARealNode)
{
    TempDir d;
    EXPECT_LT(i2cOpenBus(2, d.file("i2c-%d")), 0) << "missing node";
    EXPECT_EQ(errno, ENOENT);

    // /dev/null opens but is no I2C adapter: the address requests fail.
    int fd = i2cOpenBus(2, "/dev/null");
    ASSERT_GE(fd, 0);
    EXPECT_LT(i2cSetSlave(fd, 0x40), 0);
    EXPECT_LT(i2cTenBitOn(fd), 0);
    EXPECT_LT(i2cTenBitOff(fd), 0);
    const uint8_t bytes[2] = {1, 4};
    EXPECT_EQ(i2cWrite(fd, bytes, 2), 2);
    uint8_t in[3];
    EXPECT_EQ(i2cRead(fd, in, 3), 0) << "a short read shows in the count";
    I2cDevBus bus("/dev/null");
    EXPECT_EQ(i2cCommandRead(bus, fd, 0xE3, in, 3), 0);
    EXPECT_EQ(i2cClose(fd), 0);
    EXPECT_LT(i2cClose(fd), 0);
}

TEST(GpioExpander, FailsWithStatus1OnRealNodesItCannotUse)
{
    TempDir d;
    const struct {
        std::string pattern;
        std::string message;
    } rows[] = {
        {d.file("i2c-%d"), "*Could not open I2C bus 2\n"},
        {"/dev/null", "*Could set slave address to 112\n"},
    };
    for (const auto& row : rows) {
        SimRun r = i2cSim({"--device", row.pattern}, {"gpio-expander", "-r"});
        EXPECT_EQ(r.status, 1) << row.pattern;
        EXPECT_EQ(r.output, row.message);
    }
}

TEST(GpioExpander, SetsTogglesAndWritesRegisters)
{
    // Each write: the read of both ports begins with command byte 0, then the
    // register and its new value.
    const struct {
        std::vector<std::string> sim;
        std::vector<std::string> args;
        std::string writes;
    } rows[] = {
        {{"--output", "0x00"}, {"-p2", "-s1"}, "70: 00\n70: 01 04\n"},
        {{"--output", "0x00"}, {"-s1", "-p2"}, "70: 00\n70: 01 04\n"},
        {{"--output", "0xff"}, {"-p7", "-s0"}, "70: 00\n70: 01 7f\n"},
        {{"--output", "0x00"}, {"-s1"}, "70: 00\n70: 01 01\n"},
        {{"--output", "0x04"}, {"-t2"}, "70: 00\n70: 01 00\n"},
        {{"--output", "0x5a"}, {"-f", "165"}, "70: 00\n70: 01 a5\n"},
        {{}, {"-c", "255"}, "70: 03 ff\n"},
        {{}, {"-c", "256"}, "70: 03 00\n"},
        {{"--output", "0x00"}, {"-a113", "-p2", "-s1"}, ""},
    };
    for (const auto& row : rows) {
        SimRun r = i2cSim(row.sim, [&] {
            std::vector<std::string> a{"gpio-expander"};
            a.insert(a.end(), row.args.begin(), row.args.end());
            return a;
        }());
        const std::string label = ::testing::PrintToString(row.args);
        EXPECT_EQ(r.writes, row.writes) << label;
        if (row.writes.empty()) {
            EXPECT_EQ(r.status, 1) << label << ": no chip at 113";
        } else {
            EXPECT_EQ(r.status, 0) << label;
            EXPECT_EQ(r.output, "") << label;
        }
    }
}

TEST(GpioExpander, ShowsThePortsInEachForm)
{
    const struct {
        std::string input, output;
        std::vector<std::string> args;
        std::string shown;
    } rows[] = {
        {"0x81", "0x04", {"-r"}, "481\n"},
        {"0x81", "0x04", {"-r", "-x"}, "481\n"},
        {"0xab", "0xcd", {"-r", "-X"}, "CDAB\n"},
        {"0x81", "0x04", {"-r", "-d"}, "1153\n"},
        {"0x81", "0x04", {"-r", "-b"}, "10000001"},
        {"0x81", "0x04", {"-p2", "-r", "-b"}, "10000001"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> program{"gpio-expander"};
        program.insert(program.end(), row.args.begin(), row.args.end());
        SimRun r = i2cSim({"--input", row.input, "--output", row.output}, program);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, row.shown) << ::testing::PrintToString(row.args);
        EXPECT_EQ(r.writes, "70: 00\n") << "reading writes no register";
    }
    // Output pins read back on the input port: direction 0x0f makes 4..7 outputs.
    SimRun r = i2cSim({"--input", "0x05", "--output", "0xa0", "--direction", "0x0f"}, {"gpio-expander", "-r"});
    EXPECT_EQ(r.output, "a0a5\n");
}

TEST(GpioExpander, RefusesBadOptionsAndNeverWritesAfterAFailedRead)
{
    const std::string usageHead = "\nUsage: gpio-expander <option(s)> SOURCES\nOptions:\n";
    const struct {
        std::vector<std::string> sim;
        std::vector<std::string> args;
        int status;
        std::string outputStart;
        std::string writes;
    } rows[] = {
        {{}, {"-p8", "-s1"}, 1, "Pinnr must be between 0 - 7 `-p'.\n", ""},
        {{}, {"-p", "-1", "-s1"}, 1, "Pinnr must be between 0 - 7 `-p'.\n", ""},
        {{}, {"-t", "9"}, 1, "Pinnr must be between 0 - 7 `-t'.\n", ""},
        {{}, {"-q"}, 1, "\nUnknown option `-q'.\n" + usageHead, ""},
        {{}, {"-c"}, 1, "\nOption -c requires an argument.\n" + usageHead, ""},
        {{}, {"-h"}, 1, usageHead, ""},
        {{}, {}, 0, usageHead, ""},
        {{"--fault", "read"}, {"-p2", "-s1"}, 1, "*Could not read the ports\n", "70: 00\n"},
        {{"--fault", "short-read"}, {"-t2"}, 1, "*Could not read the ports\n", "70: 00\n"},
        {{"--fault", "write"}, {"-c", "3"}, 1, "*Could not write register 3\n", ""},
        {{"--fault", "read"}, {"-r"}, 1, "*Could not read the ports\n", "70: 00\n"},
        {{"--fault", "slave"}, {"-r"}, 1, "*Could set slave address to 112\n", ""},
        {{"--fault", "open"}, {"-r"}, 1, "*Could not open I2C bus 2\n", ""},
        {{}, {"-i", "3", "-r"}, 1, "*Could not open I2C bus 3\n", ""},
    };
    for (const auto& row : rows) {
        std::vector<std::string> program{"gpio-expander"};
        program.insert(program.end(), row.args.begin(), row.args.end());
        SimRun r = i2cSim(row.sim, program);
        const std::string label = ::testing::PrintToString(row.sim) + ::testing::PrintToString(row.args);
        EXPECT_EQ(r.status, row.status) << label;
        EXPECT_EQ(r.output.substr(0, row.outputStart.size()), row.outputStart) << label;
        EXPECT_EQ(r.writes, row.writes) << label;
    }
}

TEST(GpioExpander, RefusesAValueThatIsNotADecimalNumberBeforeTouchingTheChip)
{
    // Read as 0, each of these drove the chip: "-c 0xff" made every pin an
    // output, "-s on" cleared the pin, "-a 0x70" used address 0.
    const struct {
        std::vector<std::string> args;
        std::string text; // the refused argument, as named
    } refused[] = {
        {{"-c", "0xff"}, "0xff"}, {{"-c", "15x"}, "15x"},     {{"-c", ""}, ""},
        {{"-f", "0xff"}, "0xff"}, {{"-f", "abc"}, "abc"},     {{"-p2", "-s", "on"}, "on"},
        {{"-s", "1.0"}, "1.0"},   {{"-a", "0x70", "-r"}, "0x70"}, {{"-i", "0x2", "-r"}, "0x2"},
        {{"-a", "4294967408", "-r"}, "4294967408"},
        {{"-c", "99999999999999999999"}, "99999999999999999999"},
        {{"-r", "-c", "1 "}, "1 "},
    };
    for (const auto& row : refused) {
        std::vector<std::string> program{"gpio-expander"};
        program.insert(program.end(), row.args.begin(), row.args.end());
        SimRun r = i2cSim({"--output", "0x5a"}, program);
        const std::string label = ::testing::PrintToString(row.args);
        const char option = row.args[row.args.size() - (row.args.back() == "-r" ? 3 : 2)][1];
        EXPECT_EQ(r.status, 1) << label;
        EXPECT_EQ(r.output, std::string("Error: -") + option + " needs a whole number, not \"" + row.text + "\"\n")
            << label;
        EXPECT_EQ(r.writes, "") << label << ": nothing reaches the chip";
    }
    // Decimal forms, signs included, act as they always did.
    const struct {
        std::vector<std::string> args;
        std::string writes;
    } taken[] = {
        {{"-i", "2", "-a", "112", "-c", "15"}, "70: 03 0f\n"},
        {{"-c", "-1"}, "70: 03 ff\n"},
        {{"-c", "+3"}, "70: 03 03\n"},
        {{"-f", "-256"}, "70: 00\n70: 01 00\n"},
        {{"-p2", "-s", "7"}, "70: 00\n70: 01 5e\n"},
        {{"-p3", "-s", "0"}, "70: 00\n70: 01 52\n"},
    };
    for (const auto& row : taken) {
        std::vector<std::string> program{"gpio-expander"};
        program.insert(program.end(), row.args.begin(), row.args.end());
        SimRun r = i2cSim({"--output", "0x5a"}, program);
        EXPECT_EQ(r.status, 0) << ::testing::PrintToString(row.args) << r.output;
        EXPECT_EQ(r.writes, row.writes) << ::testing::PrintToString(row.args);
    }
}

} // namespace
