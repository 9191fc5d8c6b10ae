// imu-reader and motion-sentinel as whole programs in a private namespace (fixed
// ports, /opt/kestrom and /dev/log of their own), with the configuration
// stand-in and the IMU simulator.
#include "devlog.h"
#include "harness.h"
#include "imutest.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cstdlib>
#include <cstring>

using namespace testsupport;

namespace {

uint64_t nowUs()
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    return uint64_t(tv.tv_sec) * 1000000 + uint64_t(tv.tv_usec) / 1000 * 1000;
}

DevLog& devLog()
{
    static DevLog log;
    return log;
}

std::string feed(int port) { return "tcp://127.0.0.1:" + std::to_string(port); }

// Text up to the first comma.
std::string timeOf(const std::string& message) { return message.substr(0, message.find(',')); }

// The next message on a feed that ends with suffix.
bool nextEndingWith(Subscriber& s, const std::string& suffix, std::string* message)
{
    for (int i = 0; i < 400; i++) {
        if (!s.receive(message, milliseconds(10000)))
            return false;
        if (message->size() >= suffix.size() && message->compare(message->size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    }
    return false;
}

TEST(ImuPrograms, ReaderPublishesTheImuAndTheSentinelRestartsItOnAClearedStatusBit)
{
    DevLog& log = devLog();
    ASSERT_TRUE(log.ok()) << log.why;
    TempDir d;
    const std::string control = d.file("sim.ctl");
    mkfifo(control.c_str(), 0600);
    // Streaming from power-up, as a unit does: the set-up must stop it first.
    Process sim(IMU_SIM_BIN, {"-l", "/tmp/imu0", "-S", "-c", control, "-L", "X,a,b,1.234,10,20,30,0.5,4294967295,z"});
    ASSERT_TRUE(sim.waitForLine("imu-sim ready", milliseconds(5000)));
    const int ctl = open(control.c_str(), O_WRONLY | O_CLOEXEC);
    auto say = [ctl](const std::string& line) { ASSERT_EQ(write(ctl, (line + "\n").data(), line.size() + 1), ssize_t(line.size() + 1)); };

    const std::string bit31 = "read-only/motion-sentinel/bits/31/";
    auto service = startConfigServiceWith(d, imutest::stationConfig({{"imu/serial/comport", "/tmp/imu0"},
                                                                     {"imu/output/datarate", "20"},
                                                                     {"read-only/imu/timeshift_ms", "-500"},
                                                                     {bit31 + "throttle", "1"},
                                                                     {bit31 + "action", "reboot"},
                                                                     {bit31 + "parameter", "P31"},
                                                                     {bit31 + "description", "D31"}}));
    ASSERT_TRUE(service);
    Subscriber heave(feed(5091)), attitude(feed(5092)), status(feed(5093)), imu(feed(5090));
    Subscriber alert(feed(5095)), action(feed(5096));
    const uint64_t start = nowUs();
    Process::Options fast;
    fast.environment = {"IMU_READER_WAIT_SCALE=0.1"};
    fast.mergeStderr = true;
    Process reader(IMU_READER_BIN, {}, fast);
    Process sentinel(MOTION_SENTINEL_BIN, {});

    // Each feed carries the simulator's line; one line's four messages share their
    // time. The tenth line is surely seen by every subscriber.
    std::string m;
    for (int i = 0; i < 10; i++)
        ASSERT_TRUE(imu.receive(&m, milliseconds(30000))) << (reader.drain(milliseconds(100)), reader.output()) << "\nsimulator:\n" << (sim.drain(milliseconds(100)), sim.output());
    const uint64_t end = nowUs();
    const std::string t = timeOf(m);
    EXPECT_EQ(m, t + ",123.4,10,20,30,0.5,4294967295");
    const uint64_t tUs = std::strtoull(t.c_str(), nullptr, 10);
    EXPECT_GE(tUs + 500000, start) << "time shift of -500 ms";
    EXPECT_LE(tUs + 500000, end);
    EXPECT_TRUE(nextEndingWith(heave, t + ",123.4", &m));
    EXPECT_TRUE(nextEndingWith(attitude, t + ",10,20,30", &m));
    EXPECT_TRUE(nextEndingWith(status, t + ",0.5,4294967295", &m));
    EXPECT_EQ(readFile("/opt/kestrom/config/imuInformation"),
              "Make:\t\timu-sim\r\nModel:\t\tSIM-6\r\nType:\t\tmotion sensor\r\nSerialNo:\t000042\r\nFirmware:\t1.0.3\r\n"
              "Hardware:\tB\r\n");

    // Bit 31 clear in the IMU's word: the first such line raises the bit's alert
    // and a restart request with that line's time, and the IMU is restarted.
    say("line X,a,b,1.234,10,20,30,0.5,2147483647,z");
    std::string cleared;
    ASSERT_TRUE(nextEndingWith(status, ",0.5,2147483647", &cleared));
    const std::string warning = "WARNING, action:'reboot' :: 31th bit :: P31 :: D31";
    ASSERT_TRUE(alert.receive(&m, milliseconds(10000)));
    EXPECT_EQ(m, warning);
    ASSERT_TRUE(action.receive(&m, milliseconds(10000)));
    EXPECT_EQ(m, timeOf(cleared) + ",reboot") << "no restart for the words with bit 31 set";
    EXPECT_TRUE(sim.waitForLine("cmd restart", milliseconds(10000)));
    EXPECT_TRUE(sentinel.waitForLine(warning, milliseconds(5000)));

    // A line the reader cannot use publishes nothing and restarts the stream.
    say("line X,1,2,3,4,5,6,7,8");
    std::string line;
    for (int i = 0; i < 3; i++)
        EXPECT_TRUE(sim.waitForLine("cmd set,output,start", milliseconds(10000)));

    // syslog: the sentinel's first warning of the bit, and the reader's exchanges.
    EXPECT_TRUE(log.waitFor("motion sentinel: " + warning, milliseconds(5000), &line));
    EXPECT_EQ(line.substr(0, 4), "<26>") << "LOG_DAEMON | LOG_CRIT";
    EXPECT_TRUE(log.waitFor("imu-reader: Done: Configuring", milliseconds(5000), &line));
    EXPECT_EQ(line.substr(0, 4), "<14>") << "LOG_USER | LOG_INFO";
    EXPECT_TRUE(log.waitFor("imu-reader: Command: restart\r\n >> answ: ", milliseconds(5000)));
    EXPECT_TRUE(log.waitFor("imu-reader: Command: get,info,serial no\r\n >> answ: 0000, 000042\r\n", milliseconds(5000)));

    // A change notice whose topic begins with the program's name ends it.
    std::string reply;
    ASSERT_TRUE(request(feed(5010), R"({"set":{"imu-reader-x":{"changed":"1"}}})", &reply));
    ASSERT_TRUE(reader.wait(milliseconds(10000))) << reader.output();
    EXPECT_EQ(reader.exitCode(), 0);
    close(ctl);
}

// Data lines whose used fields are not numbers publish nothing on any feed and
// restart the stream, as the other refused lines do; the good line after each
// flows. The identity file that cannot be written (a directory stands in its
// place) is reported, not said to be updated.
TEST(ImuPrograms, ReaderPublishesNothingForALineOfNoiseAndSaysWhenItsIdentityIsNotWritten)
{
    TempDir d;
    const std::string identity = "/opt/kestrom/config/imuInformation";
    unlink(identity.c_str());
    ASSERT_EQ(mkdir(identity.c_str(), 0755), 0);
    const std::string control = d.file("sim.ctl");
    mkfifo(control.c_str(), 0600);
    // Good line k: heave k.25 (x100: 100k+25), attitude 10+k,20+k,30+k, word 1000+k.
    auto good = [](int k) {
        return "X1,a,b," + std::to_string(k) + ".25," + std::to_string(10 + k) + "," + std::to_string(20 + k) + "," +
               std::to_string(30 + k) + ",0.5," + std::to_string(1000 + k) + ",z";
    };
    // What feed f (imu, heave, attitude, status) carries after the time for line k.
    auto published = [](int f, int k) {
        const std::string heave = std::to_string(100 * k + 25), word = std::to_string(1000 + k);
        const std::string attitude = std::to_string(10 + k) + "," + std::to_string(20 + k) + "," + std::to_string(30 + k);
        const std::string texts[] = {heave + "," + attitude + ",0.5," + word, heave, attitude, "0.5," + word};
        return texts[f];
    };
    Process sim(IMU_SIM_BIN, {"-l", "/tmp/imu0", "-c", control, "-L", good(0)});
    ASSERT_TRUE(sim.waitForLine("imu-sim ready", milliseconds(5000)));
    const int ctl = open(control.c_str(), O_WRONLY | O_CLOEXEC);
    auto say = [ctl](const std::string& line) { ASSERT_EQ(write(ctl, (line + "\n").data(), line.size() + 1), ssize_t(line.size() + 1)); };
    auto service = startConfigServiceWith(d, imutest::stationConfig({{"imu/serial/comport", "/tmp/imu0"},
                                                                     {"imu/output/datarate", "20"}}));
    ASSERT_TRUE(service);
    Subscriber feeds[] = {Subscriber(feed(5090)), Subscriber(feed(5091)), Subscriber(feed(5092)), Subscriber(feed(5093))};
    Process::Options fast;
    fast.environment = {"IMU_READER_WAIT_SCALE=0.1"};
    fast.mergeStderr = true;
    Process reader(IMU_READER_BIN, {"-v1"}, fast);

    // Reads feed f until line k's message; every message before it must be line
    // `before`'s (or none, at the start).
    auto until = [&](int f, int k, int before) {
        std::string m;
        for (int i = 0; i < 2000; i++) {
            if (!feeds[f].receive(&m, milliseconds(20000)))
                return ::testing::AssertionFailure() << "feed " << f << " silent, waiting for line " << k;
            const std::string text = m.substr(m.find(',') + 1);
            if (text == published(f, k))
                return ::testing::AssertionSuccess();
            if (before < 0 || text != published(f, before))
                return ::testing::AssertionFailure() << "feed " << f << " published " << m;
        }
        return ::testing::AssertionFailure() << "line " << k << " never came on feed " << f;
    };
    for (int f = 0; f < 4; f++)
        ASSERT_TRUE(until(f, 0, -1)) << (reader.drain(milliseconds(100)), reader.output());
    reader.drain(milliseconds(200));
    EXPECT_NE(reader.output().find("File " + identity + " not updated: Is a directory\n"), std::string::npos)
        << reader.output();
    EXPECT_EQ(reader.output().find("File updated."), std::string::npos);

    const char* noise[] = {
        "X1,a,b,c,d,e,f,g,h,i",                  // nothing a number
        "X1,0,0,abc,10,20,30,0.5,4294967295,z",  // heave
        "X1,0,0,1.234,10,x,30,0.5,7,z",          // attitude
        "X1,0,0,1.234,10,20,30,-,7,z",           // status value
        "X1,0,0,1.234,10,20,30,0.5,abc,z",       // status word: not every bit cleared
        "X1,0,0,1.234abc,10,20,30,0.5,7,z",      // a number and more
        "X1,0,0,,10,20,30,0.5,7,z",              // an empty field
    };
    auto starts = [&] {
        sim.drain(milliseconds(50));
        return count(sim.output(), "cmd set,output,start");
    };
    int k = 0;
    for (const char* line : noise) {
        SCOPED_TRACE(line);
        const size_t before = starts();
        say(std::string("line ") + line);
        // Two refused lines, two restarts of the stream.
        for (int i = 0; i < 400 && starts() < before + 2; i++) {
        }
        EXPECT_GE(starts(), before + 2) << "no restart for refused lines";
        say("line " + good(++k));
        for (int f = 0; f < 4; f++)
            ASSERT_TRUE(until(f, k, k - 1));
    }
    close(ctl);
    rmdir(identity.c_str());
}

// An unplugged IMU, wherever the reader was: the reader ends with a message
// naming the port and status 1, so the service manager starts it again; the
// restarted reader sets up the IMU plugged back in and publishes.
TEST(ImuPrograms, ReaderEndsWhenItsImuIsGoneAndARestartTakesTheNewOne)
{
    TempDir d;
    auto service = startConfigServiceWith(d, imutest::stationConfig({{"imu/serial/comport", "/tmp/imu0"},
                                                                     {"imu/output/datarate", "20"}}));
    ASSERT_TRUE(service);
    Subscriber imu(feed(5090));
    Process::Options fast;
    fast.environment = {"IMU_READER_WAIT_SCALE=0.1"};
    fast.mergeStderr = true;
    const std::string control = d.file("sim.ctl");
    mkfifo(control.c_str(), 0600);

    const struct {
        const char* when;
        const char* simControl; // before the reader starts; null: no simulator
        bool publishing;        // unplugged once the first line is out
        const char* reason;
    } rows[] = {
        {"while publishing", "resume", true, "hung up"},
        {"while it waits for an answer", "silence", false, "hung up"},
        // The unplugged device's name is left dangling.
        {"before it opened", nullptr, false, "No such file or directory"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.when);
        std::unique_ptr<Process> sim;
        int ctl = -1;
        if (r.simControl) {
            sim.reset(new Process(IMU_SIM_BIN, {"-l", "/tmp/imu0", "-c", control}));
            ASSERT_TRUE(sim->waitForLine("imu-sim ready", milliseconds(5000)));
            ctl = open(control.c_str(), O_WRONLY | O_CLOEXEC);
            ASSERT_GE(ctl, 0);
            const std::string line = std::string(r.simControl) + "\n";
            ASSERT_EQ(write(ctl, line.data(), line.size()), ssize_t(line.size()));
        }
        Process reader(IMU_READER_BIN, {}, fast);
        std::string m;
        if (r.publishing) {
            ASSERT_TRUE(imu.receive(&m, milliseconds(30000))) << (reader.drain(milliseconds(100)), reader.output());
        } else if (sim) {
            ASSERT_TRUE(sim->waitForLine("cmd ", milliseconds(10000)));
        }
        if (sim) {
            ASSERT_EQ(write(ctl, "hangup\n", 7), 7);
            close(ctl);
            ASSERT_TRUE(sim->wait(milliseconds(5000)));
        }
        ASSERT_TRUE(reader.wait(milliseconds(15000))) << "still running on a dead port:\n" << reader.output();
        EXPECT_EQ(reader.exitCode(), 1);
        reader.drain(milliseconds(100));
        // A line of its own, not behind the "Error N" of the failed set-up.
        const std::string& out = reader.output();
        const size_t at = out.find(std::string("IMU on /tmp/imu0 is gone: ") + r.reason);
        EXPECT_TRUE(at != std::string::npos && (at == 0 || out[at - 1] == '\n')) << out;
    }

    Process sim(IMU_SIM_BIN, {"-l", "/tmp/imu0"});
    ASSERT_TRUE(sim.waitForLine("imu-sim ready", milliseconds(5000)));
    Process reader(IMU_READER_BIN, {}, fast);
    std::string m;
    ASSERT_TRUE(imu.receive(&m, milliseconds(30000))) << (reader.drain(milliseconds(100)), reader.output());
    EXPECT_TRUE(sim.waitForLine("cmd set,output,stop", milliseconds(5000))) << "configured from scratch";
}

// A reply without "success" is said for what it is, before the path it then
// lacks; the program ends as for a missing section.
TEST(ImuPrograms, AReplyThatHoldsNoSuccessIsSaidBeforeThePathItLacks)
{
    const struct {
        const char* reply;
        const char* program;
        const char* said;
        const char* lacks;
    } rows[] = {
        {"nosuccess", IMU_READER_BIN, "Configuration reply holds no \"success\" object\r\n",
         "No imu,serial,comport data found!\r\n"},
        {"nosuccess", MOTION_SENTINEL_BIN, "Configuration reply holds no \"success\" object\r\n",
         "No imu,publishers,status data found!\r\n"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.program) + " " + r.reply);
        ConfigServiceOptions o;
        o.reply = r.reply;
        auto service = startConfigService(o);
        ASSERT_TRUE(service);
        Process p(r.program, {});
        ASSERT_TRUE(p.wait(milliseconds(15000)));
        p.drain(milliseconds(100));
        EXPECT_EQ(p.exitCode(), 1);
        const std::string& out = p.output();
        EXPECT_EQ(out.substr(0, strlen(r.said)), r.said) << out;
        ASSERT_GE(out.size(), strlen(r.lacks));
        EXPECT_EQ(out.substr(out.size() - strlen(r.lacks)), r.lacks) << out;
    }
}

TEST(ImuPrograms, ReaderRefusesUnknownOptions)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-x"}, std::vector<std::string>{"-v"}}) {
        Process::Options o;
        o.mergeStderr = true;
        Process reader(IMU_READER_BIN, args, o);
        ASSERT_TRUE(reader.wait(milliseconds(5000)));
        EXPECT_EQ(reader.exitCode(), 1);
        reader.drain(milliseconds(100));
        const std::string usage = std::string("Usage: ") + IMU_READER_BIN + " -s \t  -> Save option enabled to the IMU\n"
                                  "  -s     -> Save option enabled to the IMU; default off\n  -v1     -> Verbose <level> \n";
        const std::string& out = reader.output();
        ASSERT_GE(out.size(), usage.size());
        EXPECT_EQ(out.substr(out.size() - usage.size()), usage);
    }
}

} // namespace
