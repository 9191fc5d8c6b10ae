// The IMU link against the IMU simulator on a pseudo-terminal: exact commands
// sent, reply tests, odd replies, and a link that never opened.
#include "imulink.h"
#include "imusim.h"
#include "imutest.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

using imutest::Captured;
using imutest::fastWaits;
using std::chrono::milliseconds;
using Commands = std::vector<std::string>;

namespace {

struct LinkBench {
    explicit LinkBench(ImuSimOptions o = ImuSimOptions(), bool save = false, milliseconds budget = milliseconds(1000))
        : sim(o)
    {
        EXPECT_TRUE(sim.open());
        sim.start();
        link.reset(new ImuLink(sim.tty(), 115200, 1, false, save, fastWaits(budget), log.sink()));
    }
    ImuSim sim;
    Captured log;
    std::unique_ptr<ImuLink> link;
};

TEST(ImuReplies, ValuesListsAndIdentityAnswersAreCutOutDefensively)
{
    const struct {
        const char* reply;
        bool hasValue;
        const char* value;
        const char* info;
    } rows[] = {
        {"x, abc\r\n", true, "abc", "abc\r\n"},
        {"0000, 100.0\r\n", true, "100.0", "100.0\r\n"},
        {"abc\r\n", true, "bc", "Error"},
        {"x,", false, "", "Error"},
        {"x,\r\n", false, "", "Error"},
        {"x, \r\n", true, "", "\r\n"},
        {"", false, "", "Error"},
        {"a,b, c\r", true, ", c", ", c\r"},
    };
    for (const auto& r : rows) {
        std::string value = "unset";
        EXPECT_EQ(imureply::valueOf(r.reply, &value), r.hasValue) << r.reply;
        EXPECT_EQ(value, r.hasValue ? r.value : "unset") << r.reply;
        EXPECT_EQ(imureply::infoOf(r.reply), r.info) << r.reply;
    }

    const struct {
        const char* reply;
        int n;
        bool ok;
        float first, last;
    } lists[] = {
        {"x, [0 -90 180]\r\n", 3, true, 0, 180},
        {"x, [12.7  -0.5\t3]\r\n", 3, true, 12.7f, 3},
        {"x, [1 -1 1 1 1 -1]", 6, true, 1, -1},
        {"x, [1 2 3 4]", 3, true, 1, 3},
        {"x,", 3, false, 0, 0},
        {"x, [", 3, false, 0, 0},
        {"x, []", 3, false, 0, 0},
        {"x, [1 2]", 3, false, 0, 0},
        {"x, [a b c]", 3, false, 0, 0},
        {"x, [1 2 3x]", 3, false, 0, 0},
    };
    for (const auto& l : lists) {
        float v[6] = {};
        ASSERT_EQ(imureply::listOf(l.reply, l.n, v), l.ok) << l.reply;
        if (l.ok) {
            EXPECT_EQ(v[0], l.first) << l.reply;
            EXPECT_EQ(v[l.n - 1], l.last) << l.reply;
        }
    }
}

TEST(ImuLinkExchange, ReplyEndsAtLineEndOrAfter99BytesAndEveryExchangeIsLogged)
{
    LinkBench b;
    std::string reply;
    EXPECT_EQ(b.link->sendCommand("get,output,rate\r\n", &reply), 17);
    EXPECT_EQ(reply, "0000, 10\r\n");
    ASSERT_EQ(b.log.lines.size(), 1u);
    EXPECT_EQ(b.log.lines[0], "Command: get,output,rate\r\n >> answ: 0000, 10\r\n");

    // 120 bytes without a break: the first 99 end the exchange, the rest is the
    // start of the next reply.
    const std::string longReply(120, 'a');
    b.sim.control("reply " + longReply);
    b.link->sendCommand("get,output,rate\r\n", &reply);
    EXPECT_EQ(reply, longReply.substr(0, 99));
    b.link->sendCommand("get,output,rate\r\n", &reply);
    EXPECT_EQ(reply, longReply.substr(99) + "\r\n");
    b.link->sendCommand("get,output,rate\r\n", &reply);
    EXPECT_EQ(reply, "0000, 10\r\n");
}

TEST(ImuLinkExchange, SilenceOrAReplyWithoutLineEndIsATimeOutWithAnEmptyReply)
{
    LinkBench b(ImuSimOptions(), false, milliseconds(200));
    for (const char* fault : {"noeol", "silence"}) {
        b.sim.control(fault);
        std::string reply = "stale";
        EXPECT_EQ(b.link->sendCommand("get,output,rate\r\n", &reply), 0) << fault;
        EXPECT_EQ(reply, "") << fault;
    }
    EXPECT_EQ(b.link->probeImu(), 1);
    EXPECT_EQ(b.link->queryInfo("get,info,make\r\n"), "Error");
    b.sim.control("resume");
    EXPECT_EQ(b.link->probeImu(), 0) << "5101, ERROR is an answer";
}

TEST(ImuLinkCommands, FixedCommandsAreAcceptedOnlyWithOK)
{
    // A slow stream: no data line comes between the replies.
    LinkBench b(ImuSimOptions{"", false, "", {{"output,rate", "0.1"}}});
    const struct {
        int (ImuLink::*op)();
        const char* command;
    } rows[] = {
        {&ImuLink::startStreamSd, "set,output,start sd"}, {&ImuLink::stopStreamSd, "set,output,stop sd"},
        {&ImuLink::restartImu, "restart"}, {&ImuLink::sendExit, "exit"}, {&ImuLink::startStream, "set,output,start"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ((b.link.get()->*r.op)(), 0) << r.command;
        EXPECT_EQ(b.sim.commands().back(), r.command);
        b.sim.control(std::string("refuse ") + r.command);
        EXPECT_EQ((b.link.get()->*r.op)(), 1) << r.command;
        b.sim.control("reply 9, NOTOK");
        EXPECT_EQ((b.link.get()->*r.op)(), 0) << "OK anywhere counts";
    }
}

TEST(ImuLinkCommands, CheckAndSetComparesTextAndWritesOnlyWhatDiffers)
{
    const struct {
        const char* imuValue;   // the simulator's output,rate
        const char* control;    // a fault for the exchange, or ""
        const char* configured;
        Commands sent;          // after the get
        int result;
        int changed;
    } rows[] = {
        {"100", "", "100", {}, 0, 0},
        {"100.0", "", "100", {"set,output,rate,100"}, 0, 1},
        {"10", "reply x,", "10", {"set,output,rate,10"}, 0, 1},
    };
    for (const auto& r : rows) {
        LinkBench b(ImuSimOptions{"", false, "", {{"output,rate", r.imuValue}}});
        if (*r.control)
            b.sim.control(r.control);
        EXPECT_EQ(b.link->checkAndSet("output", "rate", r.configured), r.result) << r.imuValue;
        Commands want = {"get,output,rate"};
        want.insert(want.end(), r.sent.begin(), r.sent.end());
        EXPECT_EQ(b.sim.commands(), want);
        EXPECT_EQ(b.link->settingsChanged, r.changed) << r.imuValue;
    }
}

TEST(ImuLinkCommands, BracketedListsAreWrittenWhenTheyDifferOrCannotBeRead)
{
    const struct {
        const char* control;
        int check; // 0 mounting, 1 fine, 2 inversion
        Commands sent;
    } rows[] = {
        {"param mounting,angles=[0 -90 180]", 0, {"get,mounting,angles"}},
        {"reply x, [0 -90]", 0, {"get,mounting,angles", "set,mounting,angles,[0 -90 180]"}},
        {"badlist", 0, {"get,mounting,angles", "set,mounting,angles,[0 -90 180]"}},
        {"param mounting,anglesFine=[0 0 0]", 1, {"get,mounting,anglesFine", "set,mounting,anglesFine,[12.7 -0.25 1e+07]"}},
        {"param mounting,anglesFine=[12.7 -0.25 10000000]", 1, {"get,mounting,anglesFine"}},
        {"param parser,parser_main,InvertAxes=[1 -1 1 1 1 -1]", 2, {"getpar,parser,parser_main,InvertAxes"}},
    };
    for (const auto& r : rows) {
        LinkBench b;
        if (*r.control)
            b.sim.control(r.control);
        int result = r.check == 0   ? b.link->checkMountingAngles(-90, 0, 180)
                     : r.check == 1 ? b.link->checkFineAngles(-0.25f, 12.7f, 1e7f)
                                    : b.link->checkInvertAxes(1, -1, 1, 1, 1, -1);
        EXPECT_EQ(result, 0) << r.control;
        EXPECT_EQ(b.sim.commands(), r.sent) << r.control;
        EXPECT_EQ(b.link->settingsChanged, r.sent.size() > 1 ? 1 : 0) << r.control;
    }
}

TEST(ImuLinkCommands, StopStreamDrainsTheLinesThatFollowItsOK)
{
    LinkBench b;
    b.sim.control("tail 8"); // 8 lines of 40 bytes right after the OK
    EXPECT_EQ(b.link->stopStream(), 0);
    std::string reply;
    b.link->sendCommand("get,output,id\r\n", &reply);
    EXPECT_EQ(reply, "0000, X1\r\n");
}

TEST(ImuLinkLine, RawEightBitLineWithTheTableSpeeds)
{
    ImuSim sim{ImuSimOptions()};
    ASSERT_TRUE(sim.open());
    const struct {
        int baud;
        int stopbits;
        int parity;
        speed_t speed;
    } rows[] = {{115200, 1, 0, B115200}, {9600, 2, 0, B9600}, {57600, 1, PARODD, B38400}, {38400, 1, 0, B38400}};
    for (const auto& r : rows) {
        ImuLink link(sim.tty(), r.baud, r.stopbits, false, false, fastWaits(), syslogSink, r.parity);
        termios t;
        ASSERT_EQ(tcgetattr(link.serialFd, &t), 0);
        EXPECT_EQ(cfgetospeed(&t), r.speed) << r.baud;
        EXPECT_EQ(cfgetispeed(&t), r.speed) << r.baud;
        // 8 bits, receiver on, no modem lines, no parity, no flow control, raw.
        EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARENB | CREAD | CLOCAL | CRTSCTS),
                  tcflag_t(CS8 | CREAD | CLOCAL) | (r.stopbits == 2 ? tcflag_t(CSTOPB) : 0u));
        EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | IXANY), 0u);
        EXPECT_EQ(t.c_lflag | t.c_oflag, 0u);
        EXPECT_EQ(t.c_cc[VMIN] * 100 + t.c_cc[VTIME], 110);
        EXPECT_EQ(fcntl(link.serialFd, F_GETFL) & O_NONBLOCK, 0);
    }
}

TEST(ImuLinkLine, ALinkThatNeverOpenedAnswersEverythingAtOnceWithNothing)
{
    ImuLink link("/nonexistent/imu", 115200, 1, false, true, LinkWaits(), syslogSink);
    EXPECT_EQ(link.serialFd, -1);
    std::string reply = "stale";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link.sendCommand("get,output,rate\r\n", &reply), -1);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(link.probeImu(), 1);
    EXPECT_EQ(link.queryInfo("get,info,make\r\n"), "Error");
    EXPECT_EQ(link.checkAndSet("output", "rate", "10"), 1);
    EXPECT_EQ(link.checkMountingAngles(0, 0, 0), 1);
    EXPECT_EQ(link.saveSettings(), 1);
    float p, r, y;
    EXPECT_EQ(link.readMountingAngles(&p, &r, &y), 1);
    // Each of these would have waited 10 s on a silent but open line.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ImuLinkSamples, DataLinesAreReadUntilSilenceOrHangUp)
{
    ImuSimOptions o;
    o.streaming = true;
    o.line = "X,a,b,-2.5,1,2,3,0.25,-1,z";
    LinkBench b(o, false, milliseconds(300));
    b.link->outputId = "X1";
    ImuSample s;
    ASSERT_TRUE(b.link->readSample(&s));
    EXPECT_EQ(s.heaveX100, -250.0f);
    EXPECT_EQ(s.statusWord, 0xFFFFFFFFu);
    b.link->outputId = "Y";
    EXPECT_FALSE(b.link->readSample(&s)) << "another unit's line";
    b.link->outputId = "";
    EXPECT_FALSE(b.link->readSample(&s)) << "no ID accepts no line";
    b.link->outputId = "X";
    while (b.link->stopStream() != 0) {
    }
    EXPECT_FALSE(b.link->readSample(&s)) << "silence ends the wait";
    b.sim.control("hangup");
    b.sim.stop();
    EXPECT_FALSE(b.link->readSample(&s));
}

} // namespace
