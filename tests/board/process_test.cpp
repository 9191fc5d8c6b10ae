// board-serialtest and the board reader's loop against the board simulator as a
// real process on a pseudo-terminal, with the configuration stand-in on free ports.
#include <gtest/gtest.h>

#include <sys/sem.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "boardtest.h"
#include "service.h"
#include "tarnix.h"

namespace {

using boardtest::periodOf;
using boardtest::receiveRecord;
using boardtest::Sim;
using testsupport::milliseconds;
using testsupport::Process;
using testsupport::TempDir;

TEST(BoardSerialTest, AsksTheBoardOnceAndDumpsTheAnswer)
{
    {
        Process p(SERIALTEST_BIN, {}, {true, "", {}});
        ASSERT_TRUE(p.wait(milliseconds(20000)));
        EXPECT_EQ(p.exitCode(), 1);
        p.drain(milliseconds(100));
        EXPECT_EQ(p.output(), std::string("USAGE: ") + SERIALTEST_BIN + " <serialport>\n\n /dev/ttyACM0\n");
    }
    {
        Process p(SERIALTEST_BIN, {"/nonexistent/tty"});
        ASSERT_TRUE(p.wait(milliseconds(20000)));
        EXPECT_EQ(p.exitCode(), 1);
        p.drain(milliseconds(100));
        EXPECT_EQ(p.output(), "\nerror 2 opening /nonexistent/tty: No such file or directory\n\nError opening serial port -1");
    }
    {
        TempDir d;
        Sim sim(d, {"-a", "40"});
        ASSERT_TRUE(sim.ready);
        Process p(SERIALTEST_BIN, {sim.tty()});
        EXPECT_TRUE(sim.proc->waitForLine("cmd ask", milliseconds(20000)));
        ASSERT_TRUE(p.wait(milliseconds(20000)));
        EXPECT_EQ(p.exitCode(), 0);
        p.drain(milliseconds(100));
        // The simulator answers bytes 1, 2, 3 ...: words little-endian.
        std::string words;
        char w[8];
        for (int k = 0; k < 20; k++) {
            snprintf(w, sizeof w, "%04X ", (2 * k + 1) | (2 * k + 2) << 8);
            words += w;
        }
        EXPECT_EQ(p.output(), "\na: res=1 bytes=8192 n=40 buffcount=0: " + words + "\nOk\n");
    }
    {
        TempDir d;
        Sim sim(d, {"-a", "0"});
        ASSERT_TRUE(sim.ready);
        Process silent(SERIALTEST_BIN, {sim.tty()});
        EXPECT_TRUE(sim.proc->waitForLine("cmd ask", milliseconds(20000)));
        EXPECT_FALSE(silent.wait(milliseconds(1500))) << "a silent board is waited for";
        sim.control("hangup");
        ASSERT_TRUE(silent.wait(milliseconds(20000)));
        EXPECT_EQ(silent.exitCode(), 255) << "a board gone is no answer";
        silent.drain(milliseconds(100));
        EXPECT_EQ(silent.output().find("Ok"), std::string::npos);
        EXPECT_NE(silent.output().find("Error"), std::string::npos);
    }
}

int semValue(int id) { return semctl(id, 0, GETVAL); }

TEST(BoardReader, LocksTheBoardClockAndRestartsASilentBoard)
{
    TempDir d;
    // At rate word 8 the board runs 50 ms too fast; each unit adds 2 ms.
    Sim sim(d, {"-p", "150", "-s", "2"});
    ASSERT_TRUE(sim.ready);
    setenv("BOARD_SIM_LINK", sim.linkFile.c_str(), 1);
    const std::vector<int> ports = testsupport::freePorts(3);
    testsupport::writeFile(d.file("config.json"), boardtest::readerConfig("200", "0", 256, ports[2], FIND_USB_SCRIPT));
    testsupport::ConfigServiceOptions cs;
    cs.config = d.file("config.json");
    cs.repPort = ports[0];
    cs.pubPort = ports[1];
    auto service = testsupport::startConfigService(cs);
    ASSERT_TRUE(service);
    testsupport::Subscriber feed("tcp://127.0.0.1:" + std::to_string(ports[2]));

    TarnixOptions o;
    o.quiet = true;
    o.configEndpoint = "tcp://127.0.0.1:" + std::to_string(ports[0]);
    o.noticeEndpoint = "tcp://127.0.0.1:" + std::to_string(ports[1]);
    o.semKey = 0x5B000000 | (getpid() & 0xFFFFFF);
    // Silent after six empty waits of 0.4 s: between ticks 0.2 s apart, so a
    // loaded machine does not make a silent board of a slow one.
    o.waitMs = 400;
    o.reopenDelayMs = 20;
    int rc = -1;
    std::thread reader([&] { rc = runTarnix(o); });

    ASSERT_TRUE(sim.proc->waitForLine("cmd start", milliseconds(20000)));
    // Locked: the commanded periods settle around 200 ms, from the board's own 150.
    std::vector<int> periods;
    EXPECT_TRUE(boardtest::waitForLock(*sim.proc, 200, 8, 100, &periods)) << periods.size() << " periods";
    ASSERT_GE(periods.size(), 10u);

    tarnix_st first;
    ASSERT_TRUE(receiveRecord(feed, &first, milliseconds(10000)));
    const int sem = semget(o.semKey, 1, 0);
    ASSERT_GE(sem, 0);
    EXPECT_EQ(semValue(sem), 1);

    // Six empty waits: stop command, port closed, board looked for and started again.
    sim.control("silence");
    EXPECT_TRUE(sim.proc->waitForLine("cmd stop", milliseconds(20000)));
    EXPECT_TRUE(sim.proc->waitForLine("cmd start", milliseconds(20000)));
    sim.control("resume");
    tarnix_st later{};
    do {
        ASSERT_TRUE(receiveRecord(feed, &later, milliseconds(10000)));
    } while (later.tarnix_data[0].id <= first.tarnix_data[0].id);
    EXPECT_EQ(later.tarnix_data[1].id, later.tarnix_data[0].id + 1);

    boardtest::notice("tarnix-pic32", o.configEndpoint);
    reader.join();
    EXPECT_EQ(rc, 0);
    semctl(sem, 0, IPC_RMID);
}

} // namespace
