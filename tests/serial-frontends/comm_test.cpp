// The serial radar link: frames, the reply parser, line settings, and the
// front-end against the radar simulator on a pseudo-terminal.
#include <fcntl.h>
#include <unistd.h>

#include <cjson/cJSON.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serialtest.h"
#include "telnet.h"

using namespace serialtest;

namespace {

std::vector<uint8_t> bytes(const char* hex) { return hexBytes(hex); }

// Well-formed UTF-8: no stray continuation, no overlong form, no surrogate,
// nothing above U+10FFFF.
bool validUtf8(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = p[i];
        size_t len = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (len == 0 || i + len > n) return false;
        unsigned cp = len == 1 ? c : c & (0x7F >> len);
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = cp << 6 | (p[i + k] & 0x3F);
        }
        const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

TEST(ReplyParser, TakesRepliesApartByteByByte) {
    struct Case {
        const char* name;
        const char* wire;
        int capacity;
        bool complete;
        int announced;
        const char* stored;
    } cases[] = {
        {"plain reply, checksum behind it", "01 05 FA 01 00 03 41 42 43 CA", 64, true, 3, "41 42 43 CA"},
        {"junk before the start byte", "55 AA 00 7E 01 05 FA 01 00 01 41 C2", 64, true, 1, "41 C2"},
        {"address and checksum not examined", "01 05 FA 09 00 01 41 00", 64, true, 1, "41 00"},
        {"empty reply completes with its checksum", "01 06 F9 01 00 00 01", 64, true, 0, "01"},
        {"wrong complement is no start", "01 05 FB 01 00 01 41 00", 64, false, 0, ""},
        {"a stray start byte hides the reply after it", "01 01 04 FB 01 00 00 01", 64, false, 0, ""},
        {"payload still missing", "01 04 FB 01 00 0A 01 02 03 04", 64, false, 10, "01 02 03 04"},
        {"bytes beyond the buffer dropped", "01 05 FA 01 FF FF 41 42 43 44 45 46", 4, false, 65535, "41 42 43"},
        {"bytes after the reply stored behind it", "01 05 FA 01 00 01 41 99 33 33", 64, true, 1, "41 99 33 33"},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(size_t(c.capacity), 'x');  // exactly the capacity: overruns show
        ReplyParser parser(buffer.data(), c.capacity);
        for (uint8_t b : bytes(c.wire)) parser.feed(b);
        parser.terminate();
        const std::vector<uint8_t> want = bytes(c.stored);
        EXPECT_EQ(parser.complete(), c.complete) << c.name;
        EXPECT_EQ(parser.announced(), c.announced) << c.name;
        ASSERT_EQ(parser.stored(), int(want.size())) << c.name;
        if (!want.empty()) {
            EXPECT_EQ(std::memcmp(buffer.data(), want.data(), want.size()), 0) << c.name;
        }
        EXPECT_EQ(buffer[want.size()], 0) << c.name;
    }
}

TEST(Frame, RequestsByteForByte) {
    struct Case {
        int radId, command;
        const char* payload;
        const char* frame;
    } cases[] = {
        {1, 4, "", "01 04 FB 01 00 00 01"},
        {1, 1, "00 00 20 00", "01 01 FE 01 00 04 00 00 20 00 25"},
        {1, 2, "00 0C 00 00 01 00 00 00 00 00", "01 02 FD 01 00 0A 00 0C 00 00 01 00 00 00 00 00 18"},
        {0x102, 3, "", "01 03 FC 02 00 00 02"},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> p = bytes(c.payload);
        uint8_t frame[FRAME_BUFFER_SIZE];
        const int n = buildFrame(c.radId, c.command, reinterpret_cast<const char*>(p.data()), int(p.size()), frame);
        EXPECT_EQ(hexText(frame, size_t(n)), c.frame);
    }
    // A payload longer than the frame buffer holds is cut to 193 bytes.
    const std::vector<char> big(250, 7);
    uint8_t frame[FRAME_BUFFER_SIZE];
    EXPECT_EQ(buildFrame(1, 3, big.data(), int(big.size()), frame), FRAME_BUFFER_SIZE);
    EXPECT_EQ(frame[4], 0);
    EXPECT_EQ(frame[5], 193);
}

TEST(Settings, LineSettingsFromTheRadarSection) {
    struct Case {
        long baud;
        const char* parity;
        long databits, stopbits;
        speed_t speed;
        tcflag_t size, parity_flags, stop;
    } cases[] = {
        {115200, "n", 8, 1, B115200, CS8, 0, 0},
        {57600, "n", 8, 1, B38400, CS8, 0, 0},  // not a radar rate: 38400
        {9600, "o", 8, 1, B9600, CS8, PARENB | PARODD, 0},
        {19200, "e", 7, 2, B19200, CS7, PARENB, CSTOPB},
        {300, "E", 5, 1, B300, CS5, 0, 0},  // parity letters are lower case
        {1200, "O", 6, 3, B1200, CS6, 0, 0},
    };
    ConfigFile cf;
    for (const Case& c : cases) {
        CommClass comm(&cf, "radar0", 0);
        comm.Settings("/dev/null", c.baud, c.parity, c.databits, c.stopbits);
        const tcflag_t f = comm.sio.c_cflag;
        EXPECT_EQ(f & CBAUD, c.speed) << c.baud;
        EXPECT_EQ(f & CSIZE, c.size) << c.databits;
        EXPECT_EQ(f & (PARENB | PARODD), c.parity_flags) << c.parity;
        EXPECT_EQ(f & CSTOPB, c.stop) << c.stopbits;
        EXPECT_EQ(f & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
        EXPECT_EQ(comm.sio.c_iflag, tcflag_t(IGNPAR | INPCK));
        EXPECT_EQ(comm.sio.c_lflag, tcflag_t(0));
        EXPECT_EQ(comm.sio.c_cc[VMIN], 16);
        EXPECT_EQ(comm.sio.c_cc[VTIME], 10);
    }
}

TEST(Link, OpensTheLineAsSet) {
    RadarSim sim{RadarSimOptions()};
    ASSERT_TRUE(sim.open());
    sim.start();
    ConfigFile cf;
    radarSection(&cf);
    StatusBlock block;
    block.status().radarConnection = 7;
    CommClass comm(&cf, "radar0", 200.0, fastTiming());
    EXPECT_EQ(block.status().radarConnection, 0);
    comm.Settings(sim.slavePath(), 9600, "o", 8, 2);
    ASSERT_EQ(comm.openComm(), 0);
    EXPECT_EQ(block.status().radarConnection, 1);
    struct termios t;
    ASSERT_EQ(tcgetattr(comm.connection, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    // A pseudo-terminal keeps the speed, odd parity and stop bits (not every kernel keeps PARENB or CS5-7).
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), tcflag_t(PARODD | CSTOPB));
    EXPECT_EQ(fcntl(comm.connection, F_GETFL) & O_NONBLOCK, O_NONBLOCK);
    // Three zero bytes wake the line before the first frame.
    ASSERT_TRUE(sim.waitForLog("skip 3", 2000));
}

TEST(Link, SetUpCommandsOnTheWire) {
    StatusBlock block;
    RadarLink link;
    ASSERT_TRUE(link.opened);
    CommClass& comm = *link.comm;
    EXPECT_EQ(comm.reset(1000000.0), 0);
    EXPECT_EQ(comm.getVersion(), 0);
    EXPECT_EQ(std::string(block.status().radarVersion), "serial-radar-sim 1.0");
    EXPECT_EQ(block.status().radarConnection, 2);
    EXPECT_EQ(comm.getStatus(100000.0), 0);
    EXPECT_EQ(comm.startMeasurement(), 0);
    ASSERT_TRUE(link.sim.waitForLog("start", 2000));
    const std::vector<std::string> want = {
        frameText({0x01, 0x06, 0xF9, 0x01, 0x00, 0x00}), frameText({0x01, 0x05, 0xFA, 0x01, 0x00, 0x00}),
        frameText({0x01, 0x07, 0xF8, 0x01, 0x00, 0x00}), frameText({0x01, 0x08, 0xF7, 0x01, 0x00, 0x00})};
    EXPECT_EQ(logged(link.sim, "frame "), want);
    EXPECT_EQ(comm.errorcount, 0);
}

TEST(Link, SweepsAndTheirFaults) {
    RadarSimOptions o;
    RadarLink link(o);
    ASSERT_TRUE(link.opened);
    // Before any set-up the simulated radar sends sweeps of its own default size.
    const std::vector<uint8_t> sweep = sweepPayload(o, o.sweepBytes);
    const int n = o.sweepBytes;
    struct Case {
        const char* control;  // one-shot fault of the next reply, or none
        int length, errors;
    } cases[] = {
        {"", n, 0}, {"junk", n, 0}, {"split", n, 0}, {"trail 300", n, 0},
        {"short", 0, 1}, {"silence", 0, 1}, {"resume", n, 0}, {"oversize", 0, 1},
    };
    for (const Case& c : cases) {
        if (*c.control != 0) {
            ASSERT_TRUE(link.control(c.control)) << c.control;
        }
        std::vector<char> buffer(SWEEP_CAPACITY);  // the record's field, exactly
        int length = -1;
        link.comm->startMeasurement();
        const int errors = link.comm->getMeasurement(buffer.data(), &length, 0);
        EXPECT_EQ(length, c.length) << c.control;
        if (c.length > 0) {
            EXPECT_EQ(errors, c.errors) << c.control;
            EXPECT_EQ(std::memcmp(buffer.data(), sweep.data(), sweep.size()), 0) << c.control;
        } else {
            EXPECT_GE(errors, c.errors) << c.control;
        }
    }
    EXPECT_EQ(logged(link.sim, "frame 01 04")[0], frameText({0x01, 0x04, 0xFB, 0x01, 0x00, 0x00}));
}

TEST(Link, AnIncompleteReplyKeepsItsAnnouncedLength) {
    RadarLink link;
    ASSERT_TRUE(link.control("short"));
    link.comm->sendCommand(1, 4, nullptr, 0, 0);
    char buffer[REPLY_CAPACITY];
    int length = 0;
    EXPECT_EQ(link.comm->receiveData(buffer, sizeof buffer, &length, 0), -1);
    EXPECT_EQ(length, RadarSimOptions().sweepBytes);
    EXPECT_EQ(link.comm->errorcount, 1);
}

// The byte-count polling gives up after a few milliseconds here; a reply
// 300 ms late comes within the readable wait that follows it.
SerialTiming shortPolling() {
    SerialTiming t = fastTiming();
    t.settleMs = 2;
    t.pollCount = 5;
    t.cycleReadableMs = 1000;
    return t;
}

TEST(Link, AReplyAfterTheByteCountPollingIsReadAndTheLineGoesOn) {
    StatusBlock block;
    RadarSimOptions o;
    RadarLink link(o, 0, "256", "2", shortPolling());
    ASSERT_TRUE(link.opened);
    ASSERT_TRUE(link.control("late 300"));
    EXPECT_EQ(link.comm->getVersion(), 0);
    EXPECT_EQ(std::string(block.status().radarVersion), "serial-radar-sim 1.0");

    // A late sweep may come in pieces the single read does not wait for: read
    // whole or counted as failed, it leaves the next sweep whole.
    std::vector<char> buffer(SWEEP_CAPACITY);
    for (const char* control : {"late 300", ""}) {
        if (*control != 0) {
            ASSERT_TRUE(link.control(control));
        }
        int length = -1;
        const int errors = link.comm->getMeasurement(buffer.data(), &length, 0);
        EXPECT_TRUE((errors == 0 && length == o.sweepBytes) || (errors > 0 && length == 0)) << control;
    }
    int length = -1;
    EXPECT_EQ(link.comm->getMeasurement(buffer.data(), &length, 0), 0);
    EXPECT_EQ(length, o.sweepBytes);
}

TEST(LinkDeathTest, AHangUpWithinTheReadableWaitStillEndsTheProcess) {
    EXPECT_EXIT(
        {
            RadarLink link(RadarSimOptions(), 0, "256", "2", shortPolling());
            link.control("silence");
            std::thread hangUp([&link] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                link.sim.control("hangup");
            });
            link.comm->getVersion();
            hangUp.join();
        },
        testing::ExitedWithCode(1), "Serial line /dev/pts/[0-9]+ lost");
}

TEST(Link, ALongVersionReplyStaysInItsField) {
    StatusBlock block;
    RadarLink link;
    ASSERT_TRUE(link.control("trail 4000"));
    EXPECT_EQ(link.comm->getVersion(), 0);
    EXPECT_EQ(std::string(block.status().radarVersion), "serial-radar-sim 1.0");
    // The field is the status block's last; the log ring follows it untouched.
    EXPECT_EQ(sharedmem->log[0][0], 0);
}

TEST(Link, TheVersionTextEndsWithThePayloadAndShowsAsUtf8Json) {
    const struct {
        std::string sent;
        const char* shown;  // the radarVersion member of the telnet status
    } cases[] = {
        {"V2.1", "V2.1"},
        {"", ""},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
        {std::string("V\xff\x80\xc3(\x01\x7f") + "\xe2\x82", "V\xc3\xbf\xc2\x80\xc3\x83(\x01\x7f\xc3\xa2\xc2\x82"},
        {std::string("cut\0rest", 8), "cut"},
    };
    for (const auto& c : cases) {
        StatusBlock block;
        RadarSimOptions o;
        o.version = c.sent;
        RadarLink link(o);
        ASSERT_TRUE(link.opened);
        EXPECT_EQ(link.comm->getVersion(), 0);
        const std::string json = statusJson(block.status(), "2024-05-01 12:34", 0, {});
        EXPECT_TRUE(validUtf8(json)) << json;
        cJSON* root = cJSON_Parse(json.c_str());
        ASSERT_NE(root, nullptr) << json;
        const cJSON* v = cJSON_GetObjectItemCaseSensitive(root, "radarVersion");
        ASSERT_TRUE(cJSON_IsString(v)) << json;
        EXPECT_EQ(std::string(v->valuestring), c.shown) << json;
        cJSON_Delete(root);
    }
}

TEST(Link, HalfDuplexEcho) {
    RadarSimOptions o;
    o.echo = true;
    RadarLink link(o, 1);
    ASSERT_TRUE(link.opened);
    std::vector<char> buffer(SWEEP_CAPACITY);
    int length = 0;
    link.comm->startMeasurement();
    EXPECT_EQ(link.comm->getMeasurement(buffer.data(), &length, 0), 0);
    EXPECT_EQ(length, o.sweepBytes);

    // Start-sweep: the radar sends nothing back, so only an echo can come.
    const char frame[7] = {0x01, 0x08, char(0xF7), 0x01, 0x00, 0x00, 0x01};
    auto echoOf = [&] {
        EXPECT_EQ(write(link.comm->connection, frame, sizeof frame), ssize_t(sizeof frame));
        const int differ = link.comm->eatEcho(frame, sizeof frame);
        return differ;
    };
    EXPECT_EQ(echoOf(), 0);
    ASSERT_TRUE(link.control("alter"));
    EXPECT_EQ(echoOf(), 1);
    ASSERT_TRUE(link.control("echo off"));
    EXPECT_EQ(echoOf(), -1);
}

TEST(Link, EmptyBuffersHandsBackEachReply) {
    RadarLink link;
    ASSERT_TRUE(link.control("pending 2"));
    EXPECT_EQ(link.comm->emptyBuffers(100000.0), 0);
    const std::vector<std::string> want = {
        frameText({0x01, 0x03, 0xFC, 0x01, 0x00, 0x00}),
        frameText({0x01, 0x03, 0xFC, 0x01, 0x00, 0x06, 0x00, 0x03, 0x01, 0x00, 0xA0, 0x00}),
        frameText({0x01, 0x03, 0xFC, 0x01, 0x00, 0x06, 0x00, 0x03, 0x02, 0x00, 0xA0, 0x01})};
    EXPECT_EQ(logged(link.sim, "frame "), want);
}

TEST(Link, AFailedWriteIsCountedAndTheSendGoesOn) {
    ConfigFile cf;
    CommClass comm(&cf, "radar0", 0, fastTiming());
    comm.Settings("/dev/full", 115200, "n", 8, 1);
    comm.openComm();
    EXPECT_EQ(comm.errorcount, 1);
    EXPECT_EQ(comm.sendCommand(1, 4, nullptr, 0, 0), 0);
    EXPECT_EQ(comm.errorcount, 3);
}

TEST(LinkDeathTest, FatalLineFaultsEndTheProcess) {
    ConfigFile cf;
    EXPECT_EXIT(
        {
            CommClass comm(&cf, "radar0", 0);
            comm.Settings("/nonexistent/tty", 115200, "n", 8, 1);
            comm.openComm();
        },
        testing::ExitedWithCode(255), "/nonexistent/tty");
    // Not a terminal: the settings fail and are reported, the byte count cannot be asked.
    EXPECT_EXIT(
        {
            CommClass comm(&cf, "radar0", 0, fastTiming());
            comm.Settings("/dev/null", 115200, "n", 8, 1);
            comm.openComm();
            char buffer[16];
            int length = 0;
            comm.receiveData(buffer, sizeof buffer, &length, 0);
        },
        testing::ExitedWithCode(1), "tcsetattr");
}

}  // namespace
