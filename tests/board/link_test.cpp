// The board link over real pseudo-terminals: command bytes, frame reading out of a
// byte stream, silence and hang-up, the detection script and the port set-up.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <thread>
#include <termios.h>
#include <unistd.h>

#include "boardlink.h"
#include "boardsim.h"
#include "harness.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// The CRC step written again from its description, apart from the link's own routine.
uint16_t referenceCrc(const uint8_t* p, size_t n, uint32_t c)
{
    for (size_t i = 0; i < n; i++) {
        c ^= uint32_t(p[i]) << 8;
        for (int k = 0; k < 8; k++) {
            c <<= 1;
            if (c & 0x10000) c = (c ^ 0xA001) & 0xFFFF;
        }
    }
    return uint16_t(c);
}

void put16(Bytes& b, uint16_t v)
{
    b.push_back(uint8_t(v & 0xFF));
    b.push_back(uint8_t(v >> 8));
}

// A frame as the board sends it, built byte by byte: each 32-bit field as the two
// units given (more significant first), samples 0, 3, 6 ..., check over header and samples.
Bytes unitFrame(const uint16_t units[8], uint16_t gain, bool zeroCheck = false)
{
    Bytes b;
    put16(b, 0x000C);
    put16(b, 0x0019);
    for (int i = 0; i < 8; i++) put16(b, units[i]);
    put16(b, gain);
    put16(b, 0x0007);
    for (int i = 0; i < 1025; i++) put16(b, uint16_t(3 * i));
    put16(b, zeroCheck ? 0 : referenceCrc(b.data(), b.size(), 0xFFFF));
    return b;
}

Bytes part(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + long(from), b.begin() + long(to)); }

const uint16_t kUnits[8] = {0x0001, 0x0002, 0x0003, 0x0004, 0x0000, 0x0007, 0x1234, 0x5678};

Bytes goodFrame() { return unitFrame(kUnits, 0x0100); }

Bytes badFrame()
{
    Bytes b = goodFrame();
    b[2074] ^= 0x01;
    return b;
}

// A board on a pseudo-terminal and the link's reader on its tty.
struct Board {
    PtyPair pty;
    int fd = -1;

    Board()
    {
        if (!pty.open()) throw std::runtime_error("no pseudo-terminal");
        fd = openSerial(pty.slavePath.c_str(), true);
    }
    ~Board()
    {
        if (fd >= 0) close(fd);
    }
    void send(const Bytes& b) const { ASSERT_EQ(write(pty.master, b.data(), b.size()), ssize_t(b.size())); }
    Bytes received(size_t n) const
    {
        Bytes b(n);
        size_t got = 0;
        while (got < n) {
            ssize_t r = read(pty.master, b.data() + got, n - got);
            if (r <= 0) break;
            got += size_t(r);
        }
        b.resize(got);
        return b;
    }
};

struct Chunk {
    int pauseMs;
    Bytes bytes;
};

TEST(BoardLink, CrcKnownAnswers)
{
    const struct {
        const char* text;
        int length;
        uint16_t start, expect;
    } cases[] = {
        {"123456789", 9, 0x0000, 0xA47B},
        {"123456789", 9, 0xFFFF, 0xCF32},
        {"", 0, 0x1234, 0x1234},
        {"\xFF", 1, 0x0000, 0xA0B1},
        {"abc", -5, 0xBEEF, 0xBEEF},
    };
    for (const auto& c : cases)
        EXPECT_EQ(crc16Buffer(reinterpret_cast<const uint8_t*>(c.text), c.length, c.start), c.expect) << c.text;
}

TEST(BoardLink, CommandFramesReachTheBoardByteForByte)
{
    Board board;
    const struct {
        serial_cmd_st cmd;
        Bytes wire;
    } cases[] = {
        {makeCommand('Z', {0x0008, 0x3040}), {0x5A, 0x00, 0x08, 0x30, 0x40}},
        {makeCommand('Z', {0x1234, 0x0008, 0xEFF3}), {0x5A, 0x12, 0x34, 0x00, 0x08, 0xEF, 0xF3}},
        {makeCommand('r', {0x0000}), {0x72, 0x00, 0x00}},
        {makeCommand('A', {0x0008, 0x3040}), {0x41, 0x00, 0x08, 0x30, 0x40}},
        {makeCommand('x', {}), {0x78}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(sendSerial(board.fd, c.cmd), 0);
        EXPECT_EQ(board.received(c.wire.size()), c.wire);
    }
    serial_cmd_st negative = makeCommand('q', {});
    negative.count = -3;
    uint8_t out[32];
    EXPECT_EQ(encodeCommand(negative, out), 1);

    const int closed = 4000; // far above anything this test opens
    ASSERT_EQ(fcntl(closed, F_GETFL), -1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(sendSerial(closed, cases[0].cmd), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\r\nIoCTL error sendSerial  error ");
}

TEST(BoardLink, ReadsBoardMessagesOutOfTheByteStream)
{
    const Bytes FF = syncWire(), TICK = tickWire(), END = lineEndWire();
    const Bytes good = goodFrame();
    const uint16_t zeroUnits[8] = {0, 1, 0, 2, 0, 3, 0, 4};
    const struct {
        const char* name;
        std::vector<Chunk> chunks;
        std::vector<int> results;
    } cases[] = {
        {"tick", {{0, join({FF, TICK})}}, {SWEEP_TICK}},
        {"line end", {{0, join({FF, END})}}, {SWEEP_LINE_END}},
        {"frame then the next sync word", {{0, join({FF, good, FF})}}, {SWEEP_FRAME}},
        {"garbage before a sync word", {{0, join({Bytes{0x12, 0x34, 0x56, 0x78}, FF, TICK})}}, {SWEEP_TICK}},
        {"garbage without a sync word", {{0, Bytes{0x34, 0x12, 0x56, 0x78}}}, {SWEEP_UNKNOWN}},
        {"repeated sync words", {{0, join({FF, FF, FF, TICK})}}, {SWEEP_TICK}},
        {"zero check word never accepted", {{0, join({FF, unitFrame(zeroUnits, 0, true), FF, TICK})}}, {SWEEP_TICK}},
        {"bad check dropped up to the next sync word", {{0, join({FF, badFrame(), FF, TICK, FF, good})}}, {SWEEP_TICK, SWEEP_FRAME}},
        {"tick and the start of a frame in one read", {{0, join({FF, TICK, FF, part(good, 0, 1000)})}, {150, part(good, 1000, good.size())}},
         {SWEEP_TICK, SWEEP_FRAME}},
        {"frame in three parts", {{0, join({FF, part(good, 0, 700)})}, {120, part(good, 700, 1500)}, {120, part(good, 1500, good.size())}},
         {SWEEP_FRAME}},
        {"frame and a tick in one read", {{0, join({FF, good, FF, TICK})}}, {SWEEP_FRAME, SWEEP_TICK}},
        {"interrupted frame gives way to what follows", {{0, join({FF, part(good, 0, 300)})}, {120, join({FF, TICK, FF, good})}},
         {SWEEP_TICK, SWEEP_FRAME}},
        {"a single byte waits for its pair", {{0, Bytes{0xFF}}, {120, Bytes{0xFF, 0x55, 0x55}}}, {SWEEP_TICK}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Board board;
        SweepReader reader(true, 100);
        std::thread writer([&] {
            for (const Chunk& ch : c.chunks) {
                std::this_thread::sleep_for(std::chrono::milliseconds(ch.pauseMs));
                board.send(ch.bytes);
            }
        });
        std::vector<int> results;
        beagle_raw_data_t frame{};
        for (size_t i = 0; i < c.results.size(); i++) results.push_back(reader.readSweep(board.fd, &frame));
        writer.join();
        EXPECT_EQ(results, c.results);
        if (c.results.back() == SWEEP_FRAME) {
            // 32-bit fields: first unit times 65536 plus the second.
            EXPECT_EQ(frame.version, 0x000C);
            EXPECT_EQ(frame.temperature, 0x0019);
            EXPECT_EQ(frame.start_freq, 65538u);
            EXPECT_EQ(frame.bandwidth, 3u * 65536 + 4);
            EXPECT_EQ(frame.id, 7u);
            EXPECT_EQ(frame.time, 0x12345678u);
            EXPECT_EQ(frame.gain, 0x0100);
            EXPECT_EQ(frame.offset, 0x0007);
            EXPECT_EQ(frame.data[0], 0);
            EXPECT_EQ(frame.data[1024], 3072);
        }
    }
}

TEST(BoardLink, FrameStillArrivingIsReportedAndNotAccepted)
{
    Board board;
    SweepReader reader(false, 100);
    const Bytes good = goodFrame();
    std::thread writer([&] {
        board.send(join({syncWire(), part(good, 0, 1200)}));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        board.send(part(good, 1200, good.size()));
    });
    beagle_raw_data_t frame{};
    testing::internal::CaptureStdout();
    const int r = reader.readSweep(board.fd, &frame);
    const std::string out = testing::internal::GetCapturedStdout();
    writer.join();
    EXPECT_EQ(r, SWEEP_FRAME);
    EXPECT_NE(out.find("-> sweepDataCRC=0\n"), std::string::npos);
    EXPECT_EQ(out.find("sweepDataCRC=" + std::to_string(frame.crc)), std::string::npos);
}

// The reader's dumps: each read's new words ("a:"), the held words once sync
// words and garbage are gone and before the message is taken ("b:"), and for
// an unknown first word the read that brought it with the words it read.
TEST(BoardLink, DumpsShowTheReadTheResynchronisedWordsAndAnUnknownWord)
{
    const struct {
        const char* name;
        std::vector<uint16_t> words;
        int result;
        const char* output;
    } cases[] = {
        {"tick", {0xFFFF, 0x5555}, SWEEP_TICK,
         "Start of readSweep\n!\na: bytes=8192 n=4 buffcount=4: FFFF 5555 \n\nb: res=1 n=4 buffcount=2: 5555 \n"},
        {"garbage and a sync word before a line end", {0x3412, 0x7856, 0xFFFF, 0x0D0A}, SWEEP_LINE_END,
         "Start of readSweep\n!\na: bytes=8192 n=8 buffcount=8: 3412 7856 FFFF 0D0A \n"
         "\nb: res=1 n=8 buffcount=2: 0D0A \n"},
        {"unknown word", {0x1234, 0x7856}, SWEEP_UNKNOWN,
         "Start of readSweep\n!\na: bytes=8192 n=4 buffcount=4: 1234 7856 \n\nb: res=1 n=4 buffcount=4: 1234 7856 \n"
         "\nBuf[0]=1234 Count=4 \na: res=1 bytes=8192 n=4 buffcount=4: 1234 7856 \n"},
        {"only sync words", {0xFFFF, 0xFFFF}, SWEEP_SILENT,
         "Start of readSweep\n!\na: bytes=8192 n=4 buffcount=4: FFFF FFFF \n\nb: res=1 n=4 buffcount=0: \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Board board;
        SweepReader reader(false, 1);
        Bytes bytes;
        for (uint16_t w : c.words) put16(bytes, w);
        board.send(bytes);
        beagle_raw_data_t frame{};
        testing::internal::CaptureStdout();
        EXPECT_EQ(reader.readSweep(board.fd, &frame), c.result);
        const std::string out = testing::internal::GetCapturedStdout();
        // Empty waits that follow (one "!" and a "res=0" line each) are not the point here.
        EXPECT_EQ(out.substr(0, strlen(c.output)), c.output);
    }
}

TEST(BoardLink, SilenceEndsAfterSixEmptyWaitsOnly)
{
    Board board;
    SweepReader reader(true, 60);
    beagle_raw_data_t frame{};
    auto t0 = Clock::now();
    EXPECT_EQ(reader.readSweep(board.fd, &frame), SWEEP_SILENT);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_GE(ms, 6 * 60 - 10);
    EXPECT_LT(ms, 2000);

    // Four and a half empty waits, then data: read on as usual.
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(270));
        board.send(join({syncWire(), tickWire()}));
    });
    EXPECT_EQ(reader.readSweep(board.fd, &frame), SWEEP_TICK);
    writer.join();
}

TEST(BoardLink, HangUpIsAFailureAtOnce)
{
    Board board;
    // A read time-out far beyond the bound below: only the hang-up can end the read in time.
    SweepReader reader(true, 20000);
    board.send(join({syncWire(), part(goodFrame(), 0, 500)}));
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        board.pty.close();
    });
    beagle_raw_data_t frame{};
    auto t0 = Clock::now();
    testing::internal::CaptureStdout();
    EXPECT_EQ(reader.readSweep(board.fd, &frame), SWEEP_FAILED);
    testing::internal::GetCapturedStdout();
    unplug.join();
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(10000));
    EXPECT_GE(reader.held(), 0);
    EXPECT_LE(reader.held(), 8192);

    // Capture first: its own descriptors must not take the number just closed.
    testing::internal::CaptureStdout();
    close(board.fd);
    const int closed = board.fd;
    board.fd = -1;
    EXPECT_EQ(reader.readSweep(closed, &frame), SWEEP_FAILED);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("\r\nIoCTL error readSweep  error 9 = "), std::string::npos);
}

TEST(BoardLink, OpensTheTtyRawSoBinaryBytesPassUnchanged)
{
    Board board;
    ASSERT_GE(board.fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(board.fd, &t), 0);
    EXPECT_EQ(cfgetispeed(&t), speed_t(B115200));
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_lflag, 0u);
    EXPECT_EQ(t.c_oflag, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 5);

    const Bytes all = [] {
        Bytes b;
        for (int i = 0; i < 256; i++) b.push_back(uint8_t(i));
        return b;
    }();
    board.send(all);
    Bytes got(256);
    size_t n = 0;
    while (n < got.size()) {
        ssize_t r = read(board.fd, got.data() + n, got.size() - n);
        ASSERT_GT(r, 0);
        n += size_t(r);
    }
    EXPECT_EQ(got, all);

    testing::internal::CaptureStdout();
    EXPECT_LT(openSerial("/nonexistent/tty", true), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nerror 2 opening /nonexistent/tty: No such file or directory\n");
}

// A scratch directory of detection scripts.
class ScriptDir : public testsupport::TempDir {
public:
    std::string add(const std::string& name, const std::string& body, bool executable = true) const
    {
        const std::string p = file(name);
        fs::create_directories(fs::path(p).parent_path());
        testsupport::writeFile(p, body);
        fs::permissions(p, executable ? fs::perms::owner_all : fs::perms::owner_read);
        return p;
    }
};

TEST(BoardLink, DetectionScriptGivesTheDevicePath)
{
    ScriptDir d;
    const struct {
        const char* name;
        const char* file;
        const char* body;
        bool executable;
        int rc;
        const char* device;
    } cases[] = {
        {"no line end", "a.sh", "#!/bin/sh\nprintf /dev/ttyACM0\n", true, 0, "/dev/ttyACM0"},
        {"line end stripped", "b.sh", "#!/bin/sh\necho /dev/ttyACM0\n", true, 0, "/dev/ttyACM0"},
        {"CR LF stripped", "c.sh", "#!/bin/sh\nprintf '/dev/ttyACM1\\r\\n'\n", true, 0, "/dev/ttyACM1"},
        {"last line counts", "d.sh", "#!/bin/sh\necho looking\necho /dev/ttyUSB3\n", true, 0, "/dev/ttyUSB3"},
        {"name is the one argument", "e.sh", "#!/bin/sh\necho \"$#:$1\"\n", true, 0, "1:kestrom_tarnix"},
        {"path with a space", "with space/f.sh", "#!/bin/sh\necho /dev/ttyACM2\n", true, 0, "/dev/ttyACM2"},
        {"exit status not looked at", "g.sh", "#!/bin/sh\necho /dev/ttyACM3\nexit 4\n", true, 0, "/dev/ttyACM3"},
        {"nothing printed", "h.sh", "#!/bin/sh\nexit 0\n", true, -4, "unchanged"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = d.add(c.file, c.body, c.executable);
        char device[DEVICE_PATH_SIZE];
        strcpy(device, "unchanged");
        EXPECT_EQ(detectUSBDevice(path, "kestrom_tarnix", device, true), c.rc);
        EXPECT_STREQ(device, c.device);
    }

    char device[DEVICE_PATH_SIZE] = "";
    testing::internal::CaptureStdout();
    EXPECT_EQ(detectUSBDevice(d.path() + "/missing.sh", "kestrom_tarnix", device, false), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nError can't find script: " + d.path() + "/missing.sh \n");
}

TEST(BoardLink, DetectionScriptThatCannotBeStartedIsReported)
{
    ScriptDir d;
    const std::string path = d.add("i.sh", "#!/bin/sh\necho x\n", false);
    char device[DEVICE_PATH_SIZE] = "unchanged";
    EXPECT_EQ(detectUSBDevice(path, "kestrom_tarnix", device, true), -3);
    EXPECT_STREQ(device, "unchanged");
}

TEST(BoardLink, DetectionScriptPathIsNeverShellText)
{
    ScriptDir d;
    const std::string path = d.add("x;touch pwned;/find.sh", "#!/bin/sh\necho /dev/ttyACM0\n");
    const fs::path before = fs::current_path();
    fs::current_path(d.path());
    char device[DEVICE_PATH_SIZE] = "";
    const int rc = detectUSBDevice(path, "kestrom_tarnix", device, true);
    fs::current_path(before);
    EXPECT_EQ(rc, 0);
    EXPECT_STREQ(device, "/dev/ttyACM0");
    EXPECT_FALSE(fs::exists(fs::path(d.path()) / "pwned"));
}

} // namespace
