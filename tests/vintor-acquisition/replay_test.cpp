// Replay front-ends: the line parser, file replay and network replay against
// a replay peer (a test thread, and the replay-peer tool as a real process).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "configfile.h"
#include "acquisition_support.h"
#include "harness.h"
#include "readfile.h"
#include "readudp.h"

using namespace testsupport;

namespace {

using acq::expectEntry;
using acq::parseIndependently;
using acq::recordingLines;

// The wait for the later lines of an answer ("timeout" of section "vintor",
// ms): far longer than any gap these peers leave inside an answer.
constexpr double kLineWaitMs = 1000.0;

ConfigFile* replayConfig(int port = 0) {
    auto* cf = new ConfigFile();
    cf->setValue("radar0", "sweepsize", std::string("256"));
    cf->setValue("radar0", "nrofsweeps", std::string("2"));
    cf->setValue("radar0", "portnumber", std::to_string(port));
    return cf;
}

}  // namespace

TEST(ExtractData, ParsesFieldsAndSamplesOfAReplayLine) {
    auto e = std::make_unique<readfile_raw_data_t>();
    for (auto& d : e->data) d = 1234;
    ASSERT_EQ(extractData("x;raw=sensor0;999;7;10,-20,,30;tail", e.get()), 0);
    EXPECT_STREQ(e->sensorname, "sensor0");
    EXPECT_STREQ(e->time, "999");
    EXPECT_EQ(e->sweepnr, 7);
    EXPECT_EQ(e->data[0], 10);
    EXPECT_EQ(e->data[1], -20);
    EXPECT_EQ(e->data[2], 30);
    EXPECT_EQ(e->data[3], 1234);  // later samples keep their values

    struct Case {
        const char* line;
        int sweepnr;
        std::vector<int> samples;
    } cases[] = {
        {"raw=a;1;  -3x;40000,-40000,65535", -3, {-25536, 25536, -1}},  // low 16 bits
        {"raw=a;1;;5, 6 ,7\r", 0, {5, 6, 7}},                            // CR ends the line
        {"raw=a;1;2;,,8,,", 2, {8}},                                      // empty pieces skipped
        {"raw=a;1;2;9,x,10", 2, {9, 0, 10}},                              // no digits: 0
        {"raw=a;1;2;", 2, {}},
        {"raw=a;1;2;+5,\v6, -0,-", 2, {5, 6, 0, 0}},  // strtol's signs and blanks
        // Saturated as strtol saturates, then cut: LONG_MAX gives -1, LONG_MIN 0.
        {"raw=a;1;2;99999999999999999999,-99999999999999999999,-9223372036854775808", 2, {-1, 0, 0}},
    };
    for (const auto& c : cases) {
        for (auto& d : e->data) d = 77;
        ASSERT_EQ(extractData(c.line, e.get()), 0) << c.line;
        EXPECT_EQ(e->sweepnr, c.sweepnr) << c.line;
        for (size_t i = 0; i < c.samples.size(); ++i) EXPECT_EQ(e->data[i], c.samples[i]) << c.line;
        EXPECT_EQ(e->data[c.samples.size()], 77) << c.line;
    }
}

// Around the limits of a 32-bit and a 64-bit long, where strtol saturates.
TEST(ExtractData, ReadsEachSampleAsStrtolReadsIt) {
    auto e = std::make_unique<readfile_raw_data_t>();
    for (const char* piece : {"2147483647", "2147483648", "4294967297", "-2147483649", "9223372036854775807",
                              "9223372036854775808", "-9223372036854775809", " \f+12", "--3", "12abc"}) {
        ASSERT_EQ(extractData(std::string("raw=a;1;2;") + piece, e.get()), 0);
        const long v = std::strtol(piece, nullptr, 10);
        EXPECT_EQ(e->data[0], int16_t(uint16_t(static_cast<unsigned long>(v) & 0xFFFFu))) << piece;
    }
}

TEST(ExtractData, CutsOversizedFieldsAndRejectsShortLines) {
    auto e = std::make_unique<readfile_raw_data_t>();
    std::string name(60, 'n'), time(30, '1');
    std::string line = "raw=" + name + ";" + time + ";1;";
    for (int i = 0; i < 400; ++i) line += std::to_string(i) + ",";
    ASSERT_EQ(extractData(line, e.get()), 0);
    EXPECT_EQ(std::string(e->sensorname), std::string(39, 'n'));
    EXPECT_EQ(std::string(e->time), std::string(19, '1'));
    EXPECT_EQ(e->data[299], 299);

    // A shorter name after a longer one leaves no trace of the longer one.
    ASSERT_EQ(extractData("raw=ab;5;1;1", e.get()), 0);
    EXPECT_EQ(std::memcmp(e->sensorname, "ab\0\0\0\0\0\0", 8), 0);
    EXPECT_EQ(std::memcmp(e->time, "5\0\0\0\0\0\0\0", 8), 0);

    readfile_raw_data_t before;
    std::memcpy(&before, e.get(), sizeof before);
    for (const char* bad : {"raw=a;b", "raw=a;b;c", "no marker;1;2;3,4", "", "ra w=a;1;2;3"}) {
        EXPECT_EQ(extractData(bad, e.get()), 1) << bad;
        EXPECT_EQ(std::memcmp(&before, e.get(), sizeof before), 0) << bad;
    }
}

TEST(ReadfileClass, ReplaysTheBundledRecordingPairByPair) {
    std::vector<std::string> lines = recordingLines();
    ASSERT_EQ(lines.size() % 2, 0u);
    ASSERT_GE(lines.size(), 2u);
    std::unique_ptr<ConfigFile> cf(replayConfig());
    ReadfileClass rf(cf.get(), "radar0", 1.0);
    rf.Settings(sourcePath("data/recording.txt"));
    ASSERT_EQ(rf.openRadar(), 0);
    auto data = std::make_unique<radar_st>();
    for (size_t p = 0; p < lines.size() / 2; ++p) {
        data->length = -7;
        ASSERT_EQ(rf.getMeasurement(data.get(), 1.0), 0);
        ASSERT_EQ(data->length, 256);
        expectEntry(data->data.rf[0], parseIndependently(lines[2 * p]), "up " + std::to_string(p));
        expectEntry(data->data.rf[1], parseIndependently(lines[2 * p + 1]), "down " + std::to_string(p));
    }
    data->length = 256;
    EXPECT_EQ(rf.getMeasurement(data.get(), 1.0), 1);
    EXPECT_EQ(data->length, 0);
    EXPECT_FALSE(rf.isAvailable());
}

TEST(ReadfileClass, BrokenOrIncompletePairsAreFailedMeasurements) {
    TempDir dir;
    writeFile(dir.file("rec.txt"),
              "raw=a;100;1;1,2\n"
              "raw=a;101;2;3,4\n"
              "no marker here\n"
              "raw=a;103;4;7,8\n"
              "raw=a;104;5;9\n"
              "raw=a;105;6;10\n"
              "raw=a;106;7;11\n");
    std::unique_ptr<ConfigFile> cf(replayConfig());
    ReadfileClass rf(cf.get(), "radar0", 1.0);
    rf.Settings(dir.file("rec.txt"));
    rf.openRadar();
    auto data = std::make_unique<radar_st>();
    struct Step {
        int result, length;
        const char* upTime;
    } steps[] = {
        {0, 256, "100"},  // a good pair
        {1, 0, nullptr},  // up line without "raw=": not a mix of old and new
        {0, 256, "104"},  // the pairs stay aligned
        {1, 0, nullptr},  // a last, lone up line
        {1, 0, nullptr},  // end of file
        {1, 0, nullptr},
    };
    for (const auto& s : steps) {
        data->length = 256;
        EXPECT_EQ(rf.getMeasurement(data.get(), 1.0), s.result);
        EXPECT_EQ(data->length, s.length);
        if (s.upTime) { EXPECT_STREQ(data->data.rf[0].time, s.upTime); }
    }

    ReadfileClass missing(cf.get(), "radar0", 1.0);
    missing.Settings(dir.file("does-not-exist"));
    EXPECT_EQ(missing.openRadar(), 0);
    data->length = 256;
    EXPECT_EQ(missing.getMeasurement(data.get(), 1.0), 1);
    EXPECT_EQ(data->length, 0);
}

// A pair put in the middle of the bundled recording, with one line of a
// given length, up or down, with either line end: the longest line taken
// makes a whole pair, any longer one costs that pair alone, and every pair of
// the recording replays as it does without it.
TEST(ReadfileClass, AnOverlongLineCostsItsOwnPairOnly) {
    const std::vector<std::string> lines = recordingLines();
    ASSERT_EQ(lines.size() % 2, 0u);
    const size_t inserted = lines.size() / 4;  // before this pair
    // A line that holds a sweep, however long: "raw=big;<time>;<nr>;5,5,...".
    auto line = [](size_t length, int nr) {
        std::string l = "raw=big;99;" + std::to_string(nr) + ";";
        l.reserve(length);
        while (l.size() + 2 <= length) l += "5,";
        l.resize(length, '5');
        return l;
    };
    const struct {
        size_t length;
        bool up, crlf, taken;
    } cases[] = {
        {REPLAY_MAX_LINE, true, false, true},
        {REPLAY_MAX_LINE, false, true, true},  // its "\r" is the line end's
        {REPLAY_MAX_LINE + 1, true, false, false},
        {REPLAY_MAX_LINE + 1, false, true, false},
        {100000, true, true, false},
        {100000, false, false, false},
        {2 << 20, true, false, false},
        {2 << 20, false, true, false},
        {REPLAY_MAX_SKIP, true, true, false},
        {REPLAY_MAX_SKIP, false, false, false},
    };
    TempDir dir;
    std::unique_ptr<ConfigFile> cf(replayConfig());
    auto data = std::make_unique<radar_st>();
    for (const auto& c : cases) {
        const std::string where = std::to_string(c.length) + (c.up ? " up" : " down") + (c.crlf ? " CRLF" : " LF");
        const std::string end = c.crlf ? "\r\n" : "\n";
        {
            std::ofstream out(dir.file("rec.txt"), std::ios::binary);
            for (size_t i = 0; i < lines.size(); ++i) {
                if (i == 2 * inserted) {
                    out << (c.up ? line(c.length, 1) : "raw=big;98;1;1") << end;
                    out << (c.up ? "raw=big;98;2;1" : line(c.length, 2)) << end;
                }
                out << lines[i] << end;
            }
        }
        ReadfileClass rf(cf.get(), "radar0", 1.0);
        rf.Settings(dir.file("rec.txt"));
        rf.openRadar();
        for (size_t p = 0; p < lines.size() / 2; ++p) {
            if (p == inserted) {
                data->length = 7;
                ASSERT_EQ(rf.getMeasurement(data.get(), 1.0), c.taken ? 0 : 1) << where;
                EXPECT_EQ(data->length, c.taken ? 256 : 0) << where;
                if (c.taken) { EXPECT_EQ(data->data.rf[c.up ? 0 : 1].data[0], 5) << where; }
            }
            data->length = 7;
            ASSERT_EQ(rf.getMeasurement(data.get(), 1.0), 0) << where << ", pair " << p;
            ASSERT_EQ(data->length, 256);
            expectEntry(data->data.rf[0], parseIndependently(lines[2 * p]), where + ", up " + std::to_string(p));
            expectEntry(data->data.rf[1], parseIndependently(lines[2 * p + 1]), where + ", down " + std::to_string(p));
        }
        EXPECT_EQ(rf.getMeasurement(data.get(), 1.0), 1) << where;
    }
}

namespace {

using acq::ThreadPeer;
using acq::sendText;

std::string pairLine(int n) {
    return "raw=peer;" + std::to_string(1000 + n) + ";" + std::to_string(n) + ";" + std::to_string(n) +
           "," + std::to_string(-n) + "\n";
}

}  // namespace

TEST(ReadUdpClass, ReadsPairsFromAPeerHoweverTheLinesArriveAndABrokenLineCostsItsPairOnly) {
    int port = freePort();
    std::unique_ptr<ConfigFile> cf(replayConfig(port));
    ReadUdpClass fe(cf.get(), "radar0", kLineWaitMs);
    // Sweep numbers as the peer sends them: up sweeps odd, each down sweep one more.
    ThreadPeer peer(port, [](int fd, int r) {
        switch (r) {
        case 0: sendText(fd, pairLine(1)); usleep(20000); sendText(fd, pairLine(2)); break;
        case 1: sendText(fd, pairLine(3) + pairLine(4)); break;  // both lines in one write
        case 2: sendText(fd, "no marker\n"); usleep(20000); sendText(fd, pairLine(6)); break;
        case 3: sendText(fd, "raw=peer;1007;7\n" + pairLine(8)); break;  // fewer than three ";"
        case 4: {
            // The longest line taken, without a line end.
            std::string up = "raw=big;42;9;";
            while (up.size() + 2 <= size_t(REPLAY_MAX_LINE)) up += "5,";
            up.resize(REPLAY_MAX_LINE, '5');
            sendText(fd, up);
            usleep(50000);
            sendText(fd, pairLine(10));
            break;
        }
        case 5: sendText(fd, "raw=long;1011;11;" + std::string(REPLAY_MAX_LINE, '7') + "\n" + pairLine(12)); break;
        case 6: sendText(fd, pairLine(13) + pairLine(14)); break;
        // A line broken in two by a stray line end puts the answers one line out of step.
        case 7: sendText(fd, pairLine(15) + "stray\n" + pairLine(16)); break;
        case 8: sendText(fd, pairLine(17) + pairLine(18)); break;
        case 9: sendText(fd, pairLine(19) + pairLine(20)); break;
        case 10: sendText(fd, pairLine(21) + pairLine(22)); break;
        default: return false;  // the peer leaves
        }
        return true;
    });
    ASSERT_EQ(fe.openRadar(), 0);
    auto data = std::make_unique<radar_st>();
    struct Step {
        int result, length;
        const char* upTime;
        const char* downTime;
    } steps[] = {
        {0, 256, "1001", "1002"},
        {0, 256, "1003", "1004"},
        {1, 0, nullptr, nullptr},   // up line without "raw=": the down line goes with it
        {1, 0, nullptr, nullptr},   // an up line without samples: likewise
        {0, 256, "42", "1010"},     // the 12020-byte line and its down line
        {1, 0, nullptr, nullptr},   // a longer line is dropped whole, and its down line with it
        {0, 256, "1013", "1014"},
        {1, 0, nullptr, nullptr},   // 15 and "stray"; 16 is left for the next answer
        {1, 0, nullptr, nullptr},   // 16 lacks its up sweep; 17 waits for its down sweep
        {0, 256, "1017", "1018"},   // in step again, one line behind the peer
        {0, 256, "1019", "1020"},
    };
    for (const auto& s : steps) {
        data->length = 256;
        EXPECT_EQ(fe.getMeasurement(data.get(), 1.0), s.result) << (s.upTime ? s.upTime : "-");
        EXPECT_EQ(data->length, s.length);
        if (s.upTime) { EXPECT_STREQ(data->data.rf[0].time, s.upTime); }
        if (s.downTime) { EXPECT_STREQ(data->data.rf[1].time, s.downTime); }
        if (s.upTime && std::string(s.upTime) == "42") {
            EXPECT_STREQ(data->data.rf[0].sensorname, "big");
            EXPECT_EQ(data->data.rf[0].data[299], 5);
        }
    }
}

TEST(ReadUdpClass, AClosedPeerFailsOneMeasurementAndANewPeerIsAccepted) {
    int port = freePort();
    std::unique_ptr<ConfigFile> cf(replayConfig(port));
    ReadUdpClass fe(cf.get(), "radar0", kLineWaitMs);
    auto data = std::make_unique<radar_st>();
    {
        ThreadPeer first(port, [](int fd, int r) {
            if (r > 0) return false;
            sendText(fd, pairLine(1) + pairLine(2));
            return true;
        });
        ASSERT_EQ(fe.openRadar(), 0);
        data->length = 0;
        EXPECT_EQ(fe.getMeasurement(data.get(), 1.0), 0);
        EXPECT_EQ(data->length, 256);
        data->length = 256;
        EXPECT_EQ(fe.getMeasurement(data.get(), 1.0), 1);  // the peer closed
        EXPECT_EQ(data->length, 0);
    }
    // The send to a gone peer must not raise SIGPIPE; the next call waits for a new peer.
    ThreadPeer second(port, [](int fd, int) {
        sendText(fd, pairLine(5) + pairLine(6));
        return true;
    });
    data->length = 0;
    EXPECT_EQ(fe.getMeasurement(data.get(), 1.0), 0);
    EXPECT_EQ(data->length, 256);
    EXPECT_STREQ(data->data.rf[0].time, "1005");
}

TEST(ReadUdpClassDeathTest, APortInUseEndsTheProcessWithStatusOne) {
    int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len), 0);
    std::unique_ptr<ConfigFile> cf(replayConfig(ntohs(a.sin_port)));
    testing::GTEST_FLAG(death_test_style) = "threadsafe";
    EXPECT_EXIT(
        {
            ReadUdpClass fe(cf.get(), "radar0", kLineWaitMs);
            fe.openRadar();
        },
        testing::ExitedWithCode(1), "ERROR on binding");
    close(holder);
}

TEST(ReadUdpClass, ReplayPeerToolServesTheRecordingLoopingAndReconnecting) {
    std::vector<std::string> lines = recordingLines();
    const size_t pairs = lines.size() / 2;
    int port = freePort();
    std::unique_ptr<ConfigFile> cf(replayConfig(port));
    ReadUdpClass fe(cf.get(), "radar0", kLineWaitMs);
    auto peer = std::make_unique<Process>(REPLAY_PEER_BIN,
                                          std::vector<std::string>{"-p", std::to_string(port), "-l", "-g", "0",
                                                                   sourcePath("data/recording.txt")});
    ASSERT_EQ(fe.openRadar(), 0);
    auto data = std::make_unique<radar_st>();
    // Once round the recording and into the second round.
    for (size_t p = 0; p < pairs + 2; ++p) {
        data->length = 0;
        ASSERT_EQ(fe.getMeasurement(data.get(), 1.0), 0) << p;
        ASSERT_EQ(data->length, 256);
        size_t q = p % pairs;
        expectEntry(data->data.rf[0], parseIndependently(lines[2 * q]), "up " + std::to_string(p));
        expectEntry(data->data.rf[1], parseIndependently(lines[2 * q + 1]), "down " + std::to_string(p));
    }
    // The peer goes away: one failed measurement; a new peer is then served.
    peer.reset();
    data->length = 256;
    EXPECT_EQ(fe.getMeasurement(data.get(), 1.0), 1);
    EXPECT_EQ(data->length, 0);
    peer = std::make_unique<Process>(REPLAY_PEER_BIN, std::vector<std::string>{"-p", std::to_string(port),
                                                                               sourcePath("data/recording.txt")});
    EXPECT_EQ(fe.getMeasurement(data.get(), 1.0), 0);
    expectEntry(data->data.rf[0], parseIndependently(lines[0]), "after reconnect");
}

TEST(ReadUdpClass, ReplayPeerToolLoopsARecordingOfAnOddNumberOfLines) {
    TempDir dir;
    writeFile(dir.file("odd.txt"), pairLine(0) + pairLine(1) + pairLine(2));
    int port = freePort();
    std::unique_ptr<ConfigFile> cf(replayConfig(port));
    ReadUdpClass fe(cf.get(), "radar0", kLineWaitMs);
    Process peer(REPLAY_PEER_BIN, {"-p", std::to_string(port), "-l", "-g", "0", dir.file("odd.txt")});
    ASSERT_EQ(fe.openRadar(), 0);
    auto data = std::make_unique<radar_st>();
    // Answers: (0, 1), (2, 0), (1, 2), (0, 1): the lone line 2 costs one pair, no answer hangs.
    const char* ups[] = {"1000", nullptr, "1000", "1000"};
    for (const char* up : ups) {
        EXPECT_EQ(fe.getMeasurement(data.get(), 1.0), up ? 0 : 1);
        if (up) {
            EXPECT_STREQ(data->data.rf[0].time, up);
            EXPECT_STREQ(data->data.rf[1].time, "1001");
        }
    }
}

// A peer that answers with one line, or sends the second one late, costs that
// pair only: the wait for the second line ends at the configured time-out and
// the answers after it are read in step. The front-end runs in a child of its
// own, so that a wait that never ends fails the test instead of holding it.
TEST(ReadUdpClass, ASecondLineThatDoesNotComeInTimeFailsItsPairOnly) {
    constexpr int waitMs = 1000;
    int port = freePort();
    std::unique_ptr<ConfigFile> cf(replayConfig(port));
    ThreadPeer peer(port, [](int fd, int r) {
        switch (r) {
        case 0: sendText(fd, pairLine(1)); break;  // one line, and none after it
        case 1: sendText(fd, pairLine(3) + pairLine(4)); break;
        case 2: sendText(fd, pairLine(5)); usleep(1500 * 1000); sendText(fd, pairLine(6)); break;  // late
        case 3: sendText(fd, pairLine(7) + pairLine(8)); break;
        case 4: sendText(fd, pairLine(9)); break;
        case 5: sendText(fd, pairLine(11) + pairLine(12)); break;
        case 6: sendText(fd, pairLine(13) + pairLine(14)); break;
        default: return false;
        }
        return true;
    });
    acq::Child frontEnd([&] {
        ReadUdpClass fe(cf.get(), "radar0", waitMs);
        if (fe.openRadar() != 0) return 100;
        auto data = std::make_unique<radar_st>();
        const char* ups[] = {nullptr, "1003", nullptr, "1007", nullptr, "1011", "1013"};
        int wrong = 0;
        for (const char* up : ups) {
            data->length = 256;
            const int r = fe.getMeasurement(data.get(), waitMs);
            const bool ok = up ? r == 0 && data->length == 256 && std::strcmp(data->data.rf[0].time, up) == 0
                               : r == 1 && data->length == 0;
            if (!ok) {
                printf("\nSTEP want %s: result %d length %d up %s\n", up ? up : "a failed pair", r, data->length,
                       data->data.rf[0].time);
                ++wrong;
            }
        }
        return wrong;
    });
    EXPECT_EQ(frontEnd.wait(milliseconds(30000)), 0) << frontEnd.output();
}
