// tarnix-pic32 as a whole program in a private namespace (fixed ports 5010, 5011,
// 5020 and semaphore 445551) with the configuration stand-in, the board simulator
// and the detection stand-in that finds it.
#include <gtest/gtest.h>

#include <sys/sem.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "boardtest.h"
#include "tarnix.h"
#include "timer.h"

namespace {

using boardtest::notice;
using boardtest::receiveRecord;
using boardtest::Sim;
using boardtest::waitForLock;
using testsupport::milliseconds;
using testsupport::Process;
using testsupport::TempDir;

const char* const LINK = "/tmp/board-sim.tty";
const char* const FEED = "tcp://127.0.0.1:5020";

std::unique_ptr<Process> configService(const TempDir& d, const std::string& speed, const std::string& offset,
                                       const std::string& script = FIND_USB_SCRIPT)
{
    testsupport::writeFile(d.file("config.json"), boardtest::readerConfig(speed, offset, 512, 5020, script));
    testsupport::ConfigServiceOptions cs;
    cs.config = d.file("config.json");
    return testsupport::startConfigService(cs);
}

// The simulator's beat tone, computed here again.
uint16_t tone(int n, double phase) { return uint16_t(std::lround(2048.0 + 1500.0 * std::sin(2.0 * M_PI * 40.0 * n / 1024.0 + phase))); }

void expectRealPair(const tarnix_st& r)
{
    EXPECT_EQ(r.quit, 0);
    EXPECT_EQ(r.sweepsize, 512);
    EXPECT_TRUE(r.tarnix_data[0].gain & 0x0100);
    EXPECT_FALSE(r.tarnix_data[1].gain & 0x0100);
    EXPECT_EQ(r.tarnix_data[1].id, r.tarnix_data[0].id + 1) << "both sweeps of one pair";
}

// Configuration stand-in, board simulator and a subscriber on the feed, started
// before the reader so no record is missed.
struct Bench {
    TempDir d;
    std::unique_ptr<Process> service;
    std::unique_ptr<Sim> sim;
    std::unique_ptr<testsupport::Subscriber> feed;

    explicit Bench(const std::string& speed = "200", const std::string& offset = "0", const std::string& boardPeriod = "200")
    {
        service = configService(d, speed, offset);
        sim.reset(new Sim(d, {"-p", boardPeriod, "-s", "2"}, LINK));
        feed.reset(new testsupport::Subscriber(FEED));
    }
    bool ready() const { return service && sim->ready; }
};

TEST(BoardReaderProgram, PublishesRealPairsAndSetsTheSemaphore)
{
    // The board starts 50 ms a period too fast.
    Bench b("200", "0", "150");
    ASSERT_TRUE(b.ready());
    Sim& sim = *b.sim;
    testsupport::Subscriber& feed = *b.feed;
    Process reader(TARNIX_BIN, {"-q"});

    std::string line;
    ASSERT_TRUE(sim.proc->waitForLine("cmd ", milliseconds(20000), &line));
    EXPECT_EQ(line, "cmd start");
    // The first tick comes a second after the loop began: too late, so the board
    // is first hurried; then its period is drawn from its own 150 ms to the 200 ms
    // wanted.
    std::vector<int> periods;
    EXPECT_TRUE(waitForLock(*sim.proc, 200, 8, 100, &periods)) << periods.size() << " periods";
    ASSERT_FALSE(periods.empty());
    EXPECT_LT(periods[0], 150);

    tarnix_st r{};
    ASSERT_TRUE(receiveRecord(feed, &r));
    const double now = getTime();
    expectRealPair(r);
    // Epoch milliseconds; the record has waited in the queue since the first ticks.
    EXPECT_LE(double(r.time), now);
    EXPECT_GT(double(r.time), now - 60000);
    for (int i = 0; i < 2; i++) {
        const beagle_raw_data_t& f = r.tarnix_data[i];
        EXPECT_EQ(f.version, 0x000C);
        EXPECT_EQ(f.start_freq, 24000000u);
        EXPECT_EQ(f.bandwidth, 250000u);
        for (int n = 0; n < 1024; n++) ASSERT_EQ(f.data[n], tone(n, i == 0 ? 0.0 : 0.3)) << "sweep " << i << " sample " << n;
    }

    const int sem = semget(445551, 1, 0);
    ASSERT_GE(sem, 0);
    semid_ds ds{};
    ASSERT_EQ(semctl(sem, 0, IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.sem_perm.mode & 0777, 0600u);
    EXPECT_EQ(semctl(sem, 0, GETVAL), 1);
    ASSERT_EQ(semctl(sem, 0, SETVAL, 0), 0);
    const double cleared = getTime();
    do ASSERT_TRUE(receiveRecord(feed, &r));
    while (double(r.time) <= cleared); // records queued before the clearing
    EXPECT_EQ(semctl(sem, 0, GETVAL), 1) << "set again for each record";

    // Faults on the line: only whole, real pairs come out, each once.
    for (const char* fault : {"orphan", "garbage", "badcheck", "split", "lineend", "orphan"}) sim.control(fault), usleep(250000);
    uint32_t lastFirst = r.tarnix_data[0].id;
    int64_t lastTime = r.time;
    for (int i = 0; i < 6; i++) {
        ASSERT_TRUE(receiveRecord(feed, &r));
        expectRealPair(r);
        EXPECT_GT(r.tarnix_data[0].id, lastFirst);
        EXPECT_GE(r.time, lastTime);
        lastFirst = r.tarnix_data[0].id;
        lastTime = r.time;
    }

    notice("radar2");
    ASSERT_TRUE(reader.wait(milliseconds(20000)));
    EXPECT_EQ(reader.exitCode(), 0);
}

TEST(BoardReaderProgram, UnpluggedBoardEndsTheReader)
{
    Bench b;
    ASSERT_TRUE(b.ready());
    Process reader(TARNIX_BIN, {"-q"});
    tarnix_st r{};
    ASSERT_TRUE(receiveRecord(*b.feed, &r));
    b.sim->control("hangup");
    ASSERT_TRUE(reader.wait(milliseconds(20000)));
    EXPECT_EQ(reader.exitCode(), 1);
    reader.drain(milliseconds(100));
    EXPECT_NE(reader.output().find("\nError opening serial port -1"), std::string::npos) << reader.output();
}

// A board unplugged and plugged back in (its new tty published for the
// detection script before the old one hangs up): the reader leaves the dead
// port at once, opens the new one and publishes again.
TEST(BoardReaderProgram, ABoardPluggedBackInIsReadAgain)
{
    Bench b;
    ASSERT_TRUE(b.ready());
    Process reader(TARNIX_BIN, {"-q"});
    tarnix_st r{};
    ASSERT_TRUE(receiveRecord(*b.feed, &r));
    TempDir other;
    Sim again(other, {"-p", "200", "-s", "2"});
    ASSERT_TRUE(again.ready);
    testsupport::writeFile(LINK, testsupport::readFile(again.linkFile));
    b.sim->control("hangup");
    ASSERT_TRUE(again.proc->waitForLine("cmd start", milliseconds(20000)));
    const double reopened = getTime();
    do ASSERT_TRUE(receiveRecord(*b.feed, &r)) << reader.output();
    while (double(r.time) < reopened);
    expectRealPair(r);
    EXPECT_TRUE(reader.running());
    reader.drain(milliseconds(100));
    const std::string& out = reader.output();
    size_t reads = 0;
    for (size_t at = out.find("Error from read"); at != std::string::npos; at = out.find("Error from read", at + 1)) reads++;
    EXPECT_EQ(reads, 1u) << "the dead port was read again:\n" << out;
    EXPECT_NE(out.find("Board port /dev/pts/"), std::string::npos) << out;
}

TEST(BoardReaderProgram, BadSettingsAreReported)
{
    struct Case {
        const char* speed;
        const char* offset;
        const char* arg;
        int exitCode; // -1: keeps running
        const char* message;
    } cases[] = {
        {"abc", "0", "-x", 2, "speed is not a valid integer or 0 (msec) abc -> 0\n\nChange the configurator option general->speed\nUSAGE: "},
        {"-5", "0", "-q", 2, "speed is not a valid integer or 0 (msec) -5 -> 0\n\n"},
        {"1000", "1500", "-q", -1, "offset should be smaller than the speed (msec) (1500 < 1000)\n\nChange the configurator option "},
        {"1000", "-3", "-q", -1, "offset should be smaller than the speed (msec) (-3 < 1000)\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.speed) + " " + c.offset);
        Bench b(c.speed, c.offset);
        ASSERT_TRUE(b.ready());
        Process reader(TARNIX_BIN, {c.arg}, {true, "", {}});
        if (c.exitCode >= 0) {
            ASSERT_TRUE(reader.wait(milliseconds(20000)));
            EXPECT_EQ(reader.exitCode(), c.exitCode);
        } else {
            EXPECT_TRUE(b.sim->proc->waitForLine("cmd start", milliseconds(20000))) << "goes on with offset 0";
            notice("tarnix-pic32");
            ASSERT_TRUE(reader.wait(milliseconds(20000)));
            EXPECT_EQ(reader.exitCode(), 0);
        }
        reader.drain(milliseconds(100));
        EXPECT_NE(reader.output().find(c.message), std::string::npos) << reader.output();
        EXPECT_EQ(reader.output().find("Sending request ") != std::string::npos, std::string(c.arg) == "-x");
    }

    TempDir d;
    auto service = configService(d, "1000", "0", "/nonexistent/find-usb-dev.sh");
    ASSERT_TRUE(service);
    Process reader(TARNIX_BIN, {"-q"});
    ASSERT_TRUE(reader.wait(milliseconds(20000)));
    EXPECT_EQ(reader.exitCode(), 1) << "no detection script";
    service.reset();

    // A reply that is no JSON, or JSON nested too deep to take.
    for (const char* reply : {"nonjson", "deep"}) {
        testsupport::ConfigServiceOptions garbled;
        garbled.reply = reply;
        service = testsupport::startConfigService(garbled);
        ASSERT_TRUE(service);
        Process unparsed(TARNIX_BIN, {"-q"});
        ASSERT_TRUE(unparsed.wait(milliseconds(20000))) << reply;
        EXPECT_EQ(unparsed.exitCode(), 3) << reply;
        unparsed.drain(milliseconds(100));
        EXPECT_EQ(unparsed.output().rfind("Failed to parse JSON\r\n", 0), 0u) << unparsed.output();
        service.reset();
    }
}

TEST(BoardReaderProgram, RunsTheScriptByItsWholePathAndRefusesADeviceThatIsNoPort)
{
    // A script path of well over a hundred characters finds the board.
    TempDir d;
    const std::string dir = d.file(std::string(120, 'd'));
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    const std::string script = dir + "/find-usb-dev.sh";
    testsupport::writeFile(script, testsupport::readFile(FIND_USB_SCRIPT));
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    {
        auto service = configService(d, "200", "0", script);
        Sim sim(d, {"-p", "200", "-s", "2"}, LINK);
        testsupport::Subscriber feed(FEED);
        ASSERT_TRUE(service && sim.ready);
        Process reader(TARNIX_BIN, {"-q"});
        tarnix_st r{};
        ASSERT_TRUE(receiveRecord(feed, &r));
        expectRealPair(r);
        notice("tarnix-pic32");
        ASSERT_TRUE(reader.wait(milliseconds(20000)));
    }

    // A device that takes no serial set-up is an unusable port: the reader ends.
    const std::string notTty = d.file("not-a-tty.sh");
    testsupport::writeFile(notTty, "#!/bin/sh\necho /dev/null\n");
    ASSERT_EQ(chmod(notTty.c_str(), 0755), 0);
    auto service = configService(d, "200", "0", notTty);
    ASSERT_TRUE(service);
    Process reader(TARNIX_BIN, {"-q"}, {true, "", {}});
    ASSERT_TRUE(reader.wait(milliseconds(20000))) << "still reading /dev/null";
    EXPECT_EQ(reader.exitCode(), 1);
    reader.drain(milliseconds(100));
    EXPECT_NE(reader.output().find("\nError opening serial port -1"), std::string::npos) << reader.output();
}

TEST(BoardReaderProgram, DaemonKeepsPublishing)
{
    Bench b;
    ASSERT_TRUE(b.ready());
    Process parent(TARNIX_BIN, {"-d"});
    ASSERT_TRUE(parent.wait(milliseconds(20000)));
    EXPECT_EQ(parent.exitCode(), 0);
    tarnix_st r{};
    ASSERT_TRUE(receiveRecord(*b.feed, &r)) << "the daemon publishes after the fork";
    expectRealPair(r);
    notice("tarnix-pic32");
}

} // namespace
