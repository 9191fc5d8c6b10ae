// Battery status, the card driver's number and the card socket's node, on files
// in a scratch directory: this machine has no /proc/apm and no card driver.
#include <gtest/gtest.h>

#include <cerrno>

#include "cardpower.h"
#include "harness.h"

using namespace qvpserial;
using testsupport::TempDir;
using testsupport::writeFile;

TEST(BatteryStatus, PacksPercentagePresenceStatusAndLine)
{
    struct Row {
        const char* text;
        int32_t packed;
    } rows[] = {
        // AC on (1 << 16), charging 0x800, battery present 0x80, 87 %.
        {"1.16 1.2 0x03 0x01 0x03 0x09 87% -1 ?\n", 0x000108D7},
        {"1.16 1.2 0x03 0x00 0x00 0x01 100% 300 min\n", 0x80 | 100},
        {"1.16 1.2 0x03 0x00 0x01 0x01 12% 20 min\n", 0x100 | 0x80 | 12},
        {"1.16 1.2 0x03 0x00 0x02 0x01 3% 2 min\n", 0x400 | 0x80 | 3},
        {"1.16 1.2 0x03 0x01 0x7f 0x01 50% -1 ?\n", 0x10000 | 0x200 | 0x80 | 50},
        {"1.16 1.2 0x03 0x01 0x05 0x01 50% -1 ?\n", 0x10000 | 0xFF00 | 0x80 | 50},
        {"1.16 1.2 0x03 0xff 0xff 0xff -1% -1 ?\n", 0xFF0000 | 0xFF00 | 0x7F},
        {"1.16 1.2 0x03 0x02 0x00 0x80 -1% -1 ?\n", 0x20000 | 0x7F},
        {"1.16 1.2 0x03 0x01 0x03 0x09 87%", 0x000108D7}, // time and unit missing
    };
    for (const Row& r : rows) {
        int32_t packed = -2;
        ASSERT_TRUE(packApm(r.text, &packed)) << r.text;
        EXPECT_EQ(packed, r.packed) << r.text;
    }
    for (const char* truncated : {"", "1.16 1.2 0x03 0x01 0x03 0x09", "1.16 1.2 0x03 0x01 zz 0x09 87%"}) {
        int32_t packed = -2;
        EXPECT_FALSE(packApm(truncated, &packed)) << truncated;
    }
}

TEST(BatteryStatus, ReadFromFile)
{
    TempDir dir;
    writeFile(dir.file("apm"), "1.16 1.2 0x03 0x01 0x03 0x09 87% -1 ?\n");
    writeFile(dir.file("short"), "1.16 1.2 0x03\n");
    int32_t packed = 0;
    EXPECT_TRUE(readApm(dir.file("apm").c_str(), &packed));
    EXPECT_EQ(packed, 0x000108D7);
    EXPECT_FALSE(readApm(dir.file("short").c_str(), &packed));
    EXPECT_FALSE(readApm(dir.file("none").c_str(), &packed));
}

TEST(CardDriver, MajorNumberFromDeviceList)
{
    const std::string head = "Character devices:\n  1 mem\n  4 tty\n";
    struct Row {
        std::string listing;
        int major;
    } rows[] = {
        {head + " 24 pcmcia\n 25 pcmcia\n\nBlock devices:\n", 24},
        {head + "\nBlock devices:\n  8 sd\n", -ENODEV},
        {head + "254 pcmcia_core\n", -ENODEV},
        {"254 pcmcia", 254},
        // Only the first 31 characters of a line count.
        {"300 " + std::string(40, 'x') + " 24 pcmcia\n", -ENODEV},
    };
    TempDir dir;
    for (const Row& r : rows) {
        writeFile(dir.file("devices"), r.listing);
        EXPECT_EQ(lookupDev(dir.file("devices").c_str(), "pcmcia"), r.major) << r.listing;
    }
    EXPECT_EQ(lookupDev(dir.file("none").c_str(), "pcmcia"), -ENOENT);
}

// Only the failure path: a node that can be made would be a real device node.
TEST(CardSocket, NoNodeDirectoryGivesNoDescriptor)
{
    TempDir dir;
    const std::string missing = dir.file("missing");
    const char* dirs[] = {missing.c_str()};
    EXPECT_EQ(openSock(24, 0, dirs, 1), -1);
    EXPECT_EQ(openSock(24, -1, dirs, 1), -1);
}
