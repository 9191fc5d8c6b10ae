// The Sivers IMA module front-end: its line and trace parsers, and the
// front-end against the module simulator on a pseudo-terminal.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "radar.h"
#include "serialtest.h"

using namespace serialtest;

namespace {

TEST(Trace, OneValuePerLineUntilOK) {
    struct Case {
        const char* name;
        std::string wire;
        bool complete;
        std::vector<int32_t> values;
    } cases[] = {
        {"three values", "12\r\n-7\r\n3\r\nOK\r\n", true, {12, -7, 3}},
        {"no OK yet", "12\r\n-7\r\n", false, {12, -7}},
        {"blanks and signs", "  +5\r\n\n-0\r\nOK", true, {5, 0}},
        {"beyond 32 bits", "4294967296\r\n-4294967296\r\nOK\r\n", true, {INT32_MAX, INT32_MIN}},
        {"no digits", "x\r\nOK\r\n", true, {0}},
        {"OK inside a line ends it", "1OK\r\n2\r\n", true, {}},
        {"bytes after OK are not read", "OK\r\n5\r\n", true, {}},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> values(4, 99);
        TraceParser trace(values.data(), int(values.size()));
        for (char b : c.wire) trace.feed(b);
        EXPECT_EQ(trace.complete(), c.complete) << c.name;
        ASSERT_EQ(trace.count(), int(c.values.size())) << c.name;
        for (size_t i = 0; i < c.values.size(); ++i) EXPECT_EQ(values[i], c.values[i]) << c.name;
    }
}

TEST(Trace, BoundsOfValuesAndLines) {
    std::vector<int32_t> values(SIVERS_MAX_VALUES);
    TraceParser many(values.data(), SIVERS_MAX_VALUES);
    for (int i = 0; i < 3100; ++i)
        for (char b : std::to_string(i) + "\r\n") many.feed(b);
    for (char b : std::string("OK\r\n")) many.feed(b);
    EXPECT_TRUE(many.complete());
    EXPECT_EQ(many.count(), SIVERS_MAX_VALUES);
    EXPECT_EQ(values[SIVERS_MAX_VALUES - 1], SIVERS_MAX_VALUES - 1);

    TraceParser longLine(values.data(), SIVERS_MAX_VALUES);
    for (char b : std::string(10000, '1') + "\r\n7\r\nOK\r\n") longLine.feed(b);
    EXPECT_EQ(longLine.count(), 2);
    EXPECT_EQ(values[0], INT32_MAX);
    EXPECT_EQ(values[1], 7);
}

TEST(ReplyLine, UpToItsLineEnd) {
    struct Case {
        const char* bytes;
        int capacity;
        bool whole;
        const char* line;
    } cases[] = {
        {"OK\r\n", 100, true, "OK\r\n"},
        {"OK\r\nextra", 100, true, "OK\r\n"},
        {"par", 100, false, "par"},
        {"0123456789\n", 5, true, "0123"},
    };
    for (const Case& c : cases) {
        std::vector<char> line(size_t(c.capacity));
        int used = 0;
        EXPECT_EQ(appendLine(line.data(), c.capacity, &used, c.bytes, int(std::strlen(c.bytes))), c.whole) << c.bytes;
        EXPECT_STREQ(line.data(), c.line);
    }
    // A line that comes in pieces.
    char line[100];
    int used = 0;
    EXPECT_FALSE(appendLine(line, sizeof line, &used, "12", 2));
    EXPECT_TRUE(appendLine(line, sizeof line, &used, "3\r\n4", 4));
    EXPECT_STREQ(line, "123\r\n");
}

TEST(VersionText, EachReplyOverTheLastLineEnd) {
    char text[SIVERS_VERSION_CAPACITY];
    std::snprintf(text, sizeof text, "\nVersion:%s", "1\r\n");
    appendVersionPart(text, sizeof text, ":", "2\r\n");
    appendVersionPart(text, sizeof text, ":", "3\r\n");
    appendVersionPart(text, sizeof text, " @", "D\r\n");
    EXPECT_STREQ(text, "\nVersion:1\r:2\r:3\r @D\r\n");

    std::vector<char> small(14);
    std::snprintf(small.data(), small.size(), "\nVersion:%s", "1\r\n");
    appendVersionPart(small.data(), small.size(), ":", std::string(200, 'x').c_str());
    EXPECT_EQ(std::strlen(small.data()), 13u);
}

TEST(SiversLink, LineAt115200WhateverTheSection) {
    SiversLink link(SiversSimOptions(), 9600);
    ASSERT_TRUE(link.opened);
    struct termios t;
    ASSERT_EQ(tcgetattr(link.sivers->connection, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & CSTOPB, tcflag_t(0));
    EXPECT_EQ(t.c_cc[VTIME], 100);
    EXPECT_EQ(t.c_cc[VMIN], 0);
}

TEST(SiversLink, Sweeps) {
    SiversSimOptions o;
    SiversLink link(o);
    ASSERT_TRUE(link.opened);
    const std::vector<int> tone = traceValues(o, o.points);
    struct Case {
        const char* control;
        int count;
    } cases[] = {
        {"", 1024}, {"split", 1024}, {"noend", 0}, {"many 3100", SIVERS_MAX_VALUES}, {"longline 10000", 1024},
    };
    for (const Case& c : cases) {
        if (*c.control != 0) {
            ASSERT_TRUE(link.control(c.control));
        }
        std::vector<int32_t> values(SIVERS_MAX_VALUES);  // the record's field, exactly
        int count = -1;
        EXPECT_EQ(link.sivers->startMeasurement(), 0) << c.control;
        link.sivers->getMeasurement(values.data(), &count, 0);
        EXPECT_EQ(count, c.count) << c.control;
        if (c.count == 1024) {
            // A long line without its end runs into the first value.
            for (int i = std::strncmp(c.control, "longline", 8) == 0 ? 1 : 0; i < 1024; ++i)
                ASSERT_EQ(values[size_t(i)], tone[size_t(i)]) << c.control << " value " << i;
        }
    }
    std::vector<std::string> want(5, "cmd trig:arm");
    EXPECT_EQ(logged(link.sim, "cmd trig:arm"), want);
    EXPECT_EQ(logged(link.sim, "cmd trace:data ?").size(), 5u);
}

TEST(SiversLink, SetUpCommands) {
    SiversSimOptions o;
    o.date = "D";
    SiversLink link(o);
    ASSERT_TRUE(link.opened);
    EXPECT_EQ(link.sivers->reset(1000000.0), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(link.sivers->getVersion(), 0);
    fflush(stdout);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("\nHardware system:sivers-sim\r\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("\nVersion:1\r:2\r:3\r @D\r\n"), std::string::npos) << printed;
    EXPECT_EQ(link.sivers->configRadar(0), 0);
    const std::vector<std::string> want = {
        "cmd INIT", "cmd hardware:system ?", "cmd version:major ?", "cmd version:minor ?",
        "cmd version:REVIsion ?", "cmd version:date ?", "cmd sweep:numbers 2", "cmd sweep:type triangular",
        "cmd FREQUENCY:center 1e10", "cmd FREQUENCY:span 15e8", "cmd FREQUENCY:start 925e7",
        "cmd FREQUENCY:stop 1075e7", "cmd FREQUENCY:step 1e6", "cmd FREQUENCY:points 1024",
        "cmd FREQUENCY:immediate 1e10"};
    EXPECT_EQ(logged(link.sim, "cmd "), want);
}

TEST(SiversLink, ASettingNeverTakenStopsTheSetUp) {
    SiversLink link;
    ASSERT_TRUE(link.control("refuse FREQUENCY:span"));
    EXPECT_EQ(link.sivers->configRadar(0), 1);
    EXPECT_EQ(logged(link.sim, "cmd FREQUENCY:span 15e8").size(), 11u);
    EXPECT_TRUE(logged(link.sim, "cmd FREQUENCY:start").empty());
}

TEST(SiversLink, AResetNeverTakenEndsTheRadar) {
    SiversSim sim{SiversSimOptions()};
    ASSERT_TRUE(sim.open());
    sim.start();
    sim.control("refuse INIT");
    ASSERT_TRUE(sim.waitForLog("control refuse INIT", 2000));
    ConfigFile cf;
    cf.setValue("vintor", "timeout", std::string("500"));
    cf.setValue("radar0", "brand", std::string("siversima"));
    cf.setValue("radar0", "comport", sim.slavePath());
    RadarClass radar(&cf, "radar0");
    EXPECT_EQ(radar.process(), 1);
    EXPECT_EQ(logged(sim, "cmd INIT").size(), 11u);
    EXPECT_TRUE(logged(sim, "cmd hardware").empty());
}

TEST(SiversLinkDeathTest, FatalLineFaultsEndTheProcess) {
    ConfigFile cf;
    EXPECT_EXIT(
        {
            SiversimaClass sivers(&cf, "radar0", 0);
            sivers.Settings("/nonexistent/tty", 115200, "n", 8, 1);
            sivers.openComm();
        },
        testing::ExitedWithCode(255), "/nonexistent/tty");
    EXPECT_EXIT(
        {
            SiversimaClass sivers(&cf, "radar0", 0);
            sivers.Settings("/dev/full", 115200, "n", 8, 1);
            sivers.openComm();
            sivers.reset(0);
        },
        testing::ExitedWithCode(1), "Siversima write error");
}

}  // namespace
