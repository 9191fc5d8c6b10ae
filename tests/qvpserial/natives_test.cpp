// libqvpSerial's natives called from a real JVM on pseudo-terminal pairs: the
// test plays the device on the master side and reads the line settings back
// from its own descriptor of the slave.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <fstream>
#include <filesystem>
#include <thread>

#include "harness.h"
#include "jvm.h"
#include "ptypair.h"

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::TempDir;

const char* const kCfg = "(LQuorvel/SerialConfig;)I";
const char* const kBanner = "qvpSerial 4.7";

// Bytes that reach the master side within a few seconds.
std::string readMaster(int master, size_t want)
{
    std::string got;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (got.size() < want && Clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[256];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

bool fileIsOpen(const std::string& path)
{
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        if (std::filesystem::read_symlink(fd.path(), error) == path) return true;
    return false;
}

class SerialNatives : public testsupport::JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        port = newObject("Quorvel/SerialPortLocal");
        cfg = newObject("Quorvel/SerialConfig");
        ASSERT_TRUE(port && cfg) << takeException();
    }
    void TearDown() override
    {
        for (int slot = 0; slot < 128; ++slot) call("SerClosePort", slot);
        JvmTest::TearDown();
    }

    jint call(const char* native, jint slot) { return callInt(port, native, "(I)I", slot); }
    jint openByName(const std::string& path)
    {
        setBytesField(cfg, "portName", path);
        return direct("SerOpenPort", cfg);
    }
    jint openByNumber(const std::string& base, jint number)
    {
        setBytesField(cfg, "portName", "");
        setBytesField(cfg, "baseName", base);
        setIntField(cfg, "port", number);
        return direct("SerOpenPort", cfg);
    }
    // Opens the pair's slave by name; the slot it got, or -1.
    int openPty(PtyPair& pty)
    {
        if (!pty.open()) return -1;
        setIntField(cfg, "port", 0);
        return openByName(pty.slavePath) == 0 ? getPort() - 1 : -1;
    }
    // What the shipped class gives the natives as the port.
    jint getPort() { return callInt(cfg, "getPort", "()I"); }
    // The native's own return value, also when it throws.
    template <typename... Args>
    jint direct(const char* native, Args... args)
    {
        return callNative<jint>("libqvpSerial.so", std::string("Java_Quorvel_SerialPortLocal_") + native, port, args...);
    }
    jbyteArray bytes(jsize n) { return env->NewByteArray(n); }

    // One configuration and what the terminal then reads back.
    struct LineRow {
        int bitRate, parity, stopBits, handshake, code;
        speed_t speed;
        tcflag_t cflag, iflag;
    };
    void expectLine(const PtyPair& pty, const LineRow& r)
    {
        SCOPED_TRACE(testing::Message() << "bit rate " << r.bitRate << " parity " << r.parity);
        setIntField(cfg, "bitRate", r.bitRate);
        setIntField(cfg, "parity", r.parity);
        setIntField(cfg, "stopBits", r.stopBits);
        setIntField(cfg, "handshake", r.handshake);
        EXPECT_EQ(callInt(port, "SerConfigure", kCfg, cfg), r.code);
        termios t;
        ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
        EXPECT_EQ(cfgetospeed(&t), r.speed);
        EXPECT_EQ(cfgetispeed(&t), r.speed);
        EXPECT_EQ(t.c_cflag & (CSTOPB | CMSPAR | PARODD | CRTSCTS), r.cflag);
        EXPECT_EQ(t.c_iflag, r.iflag);
    }

    jobject port = nullptr;
    jobject cfg = nullptr;
};

TEST_F(SerialNatives, OpenByNameMovesBytesBothWays)
{
    PtyPair a, b;
    const int slot = openPty(a);
    ASSERT_GE(slot, 0) << takeException();
    ASSERT_EQ(openPty(b), slot + 1);
    const std::string printed = processOutput();
    EXPECT_NE(printed.find(kBanner), std::string::npos);
    EXPECT_EQ(printed.find(kBanner), printed.rfind(kBanner));
    termios raw;
    ASSERT_EQ(tcgetattr(a.slave, &raw), 0);
    EXPECT_EQ(cfgetispeed(&raw), speed_t(B9600));
    EXPECT_EQ(raw.c_iflag, tcflag_t(IGNBRK | IGNPAR));
    EXPECT_EQ(raw.c_lflag | raw.c_oflag, 0u);

    EXPECT_EQ(callInt(port, "SerSetTimeoutRx", "(II)I", slot, 5000), 1);
    ASSERT_EQ(write(a.master, "\xffhello", 6), 6);
    EXPECT_EQ(call("SerGetByte", slot), 0xff);
    jbyteArray data = bytes(16);
    EXPECT_EQ(callInt(port, "SerGetData", "(I[BI)I", slot, data, 16), 5);
    EXPECT_EQ(bytesOf(data).substr(0, 5), "hello");

    ASSERT_EQ(write(a.master, "abc", 3), 3);
    int ready = 0;
    for (int i = 0; i < 500 && ready < 3; ++i, usleep(10000)) ready = call("SerRxReadyCount", slot);
    EXPECT_EQ(ready, 3);
    EXPECT_EQ(call("SerRxFlush", slot), 0);
    EXPECT_EQ(call("SerRxReadyCount", slot), 0);

    EXPECT_EQ(callInt(port, "SerPutData", "(I[BI)I", slot, byteArray("world"), 100), 5);
    EXPECT_EQ(callInt(port, "SerPutByte", "(IB)I", slot, static_cast<jbyte>('!')), 0);
    EXPECT_EQ(readMaster(a.master, 6), "world!");
    EXPECT_EQ(call("SerTxBufCount", slot), 0);
    EXPECT_EQ(call("SerTxFlush", slot), 0);
    EXPECT_EQ(call("SerTxDrain", slot), 0);

    EXPECT_EQ(call("SerClosePort", slot), 0);
    EXPECT_EQ(call("SerClosePort", slot), -1);
}

TEST_F(SerialNatives, OpenByNameRefusesWhatCannotBeOpened)
{
    TempDir dir;
    testsupport::writeFile(dir.file("plain"), "not a terminal");
    const std::string missing63 = dir.file(std::string(62 - dir.path().size(), 'n'));
    struct Row {
        std::string path;
        int code;
        std::string exception;
    } rows[] = {
        {missing63, 1008, ""},
        {missing63 + "n", 5001, "java.io.IOException: Port device name not valid"},
        {dir.path(), EISDIR, ""},
        {dir.file("plain"), 5003, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path);
        setIntField(cfg, "port", 0);
        EXPECT_EQ(openByName(r.path), r.code);
        EXPECT_EQ(takeException(), r.exception);
        EXPECT_EQ(getPort(), 0);
    }
    // The file that is no terminal was closed again and its slot is free.
    EXPECT_FALSE(fileIsOpen(dir.file("plain")));
    PtyPair pty;
    EXPECT_EQ(openPty(pty), 0);

    EXPECT_EQ(direct("SerOpenPort", jobject{nullptr}), 5000);
    EXPECT_EQ(takeException(), "java.lang.NullPointerException: SerialConfig is null");
}

TEST_F(SerialNatives, OpenByNumberUsesTheBaseName)
{
    PtyPair pty;
    ASSERT_TRUE(pty.open());
    TempDir dir;
    ASSERT_EQ(symlink(pty.slavePath.c_str(), dir.file("base0").c_str()), 0);
    const std::string base = dir.file("base");
    const std::string longBase = dir.file(std::string(62 - dir.path().size(), 'b'));
    struct Row {
        std::string base;
        int number, code;
        std::string exception;
    } rows[] = {
        {base, 0, 1003, ""},
        {base, 129, 1003, ""},
        {base, INT_MIN, 1003, ""},
        {base, 2, 1008, ""},
        {longBase, 10, 5001, "java.io.IOException: Port device name not valid"},
        {base, 1, 0, ""},
        {base, 1, 1000, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.base + " " + std::to_string(r.number));
        EXPECT_EQ(openByNumber(r.base, r.number), r.code);
        EXPECT_EQ(takeException(), r.exception);
    }
    EXPECT_EQ(getPort(), 1);
    ASSERT_EQ(write(pty.master, "z", 1), 1);
    EXPECT_EQ(callInt(port, "SerSetTimeoutRx", "(II)I", 0, 5000), 1);
    EXPECT_EQ(call("SerGetByte", 0), 'z');
}

TEST_F(SerialNatives, ReceiveWaitsFollowTheSlotTimeout)
{
    PtyPair pty;
    const int slot = openPty(pty);
    ASSERT_GE(slot, 0) << takeException();
    jbyteArray four = bytes(4);

    EXPECT_EQ(callInt(port, "SerSetTimeoutRx", "(II)I", slot, 0), 1);
    EXPECT_EQ(call("SerGetByte", slot), -1);
    EXPECT_EQ(callInt(port, "SerGetData", "(I[BI)I", slot, four, 4), 0);
    EXPECT_EQ(callInt(port, "SerGetData", "(I[BI)I", slot, four, 0), -1);
    EXPECT_EQ(callInt(port, "SerSetTimeoutRx", "(II)I", slot, -1), 1);
    EXPECT_EQ(call("SerGetByte", slot), -1);

    EXPECT_EQ(callInt(port, "SerSetTimeoutRx", "(II)I", slot, 200), 1);
    const auto start = Clock::now();
    EXPECT_EQ(call("SerGetByte", slot), -1);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));

    // Bytes that come during the wait end it; more than the array holds stay queued.
    EXPECT_EQ(callInt(port, "SerSetTimeoutRx", "(II)I", slot, 60000), 1);
    std::thread device([&] {
        usleep(50000);
        (void)!write(pty.master, "0123456789", 10);
    });
    const jint got = callInt(port, "SerGetData", "(I[BI)I", slot, four, 100);
    device.join();
    EXPECT_EQ(got, 4);
    EXPECT_EQ(bytesOf(four), "0123");
    EXPECT_EQ(call("SerGetByte", slot), '4');
}

TEST_F(SerialNatives, ConfigureSetsTheLine)
{
    PtyPair pty;
    const int slot = openPty(pty);
    ASSERT_GE(slot, 0) << takeException();
    // The object of the open by name names the port as it is.
    ASSERT_EQ(getPort(), slot + 1);
    // A pseudo-terminal keeps 8 data bits and drops parity enable; the rest reads back.
    const LineRow rows[] = {
        {11, 0, 0, 0, 0, B115200, 0, IGNBRK | IGNPAR},
        {0, 1, 0, 0xC0, 0, B110, PARODD, IGNBRK | INPCK | IXON | IXOFF},
        {13, 0, 0, 0, 5001, B110, PARODD, IGNBRK | INPCK | IXON | IXOFF},
    };
    for (const LineRow& r : rows)
        expectLine(pty, r);
    setIntField(cfg, "bitRate", 7);
    setIntField(cfg, "port", 100);
    EXPECT_EQ(callInt(port, "SerConfigure", kCfg, cfg), 5003);
}

TEST_F(SerialNatives, MarkParitySetsStickParity)
{
    PtyPair pty;
    const int slot = openPty(pty);
    ASSERT_GE(slot, 0) << takeException();
    setIntField(cfg, "port", slot + 1);
    expectLine(pty, {12, 3, 1, 0x10, 0, B230400, CSTOPB | CMSPAR | PARODD | CRTSCTS, IGNBRK});
}

TEST_F(SerialNatives, ModemLinesReportATerminalWithoutThem)
{
    PtyPair pty;
    const int slot = openPty(pty);
    ASSERT_GE(slot, 0) << takeException();
    EXPECT_EQ(callInt(port, "SerSetDTR", "(IZ)I", slot, JNI_TRUE), -1);
    EXPECT_EQ(callInt(port, "SerSetRTS", "(IZ)I", slot, JNI_FALSE), -1);
    for (const char* line : {"SerSigCTS", "SerSigDSR", "SerSigCD", "SerSigRing"}) EXPECT_EQ(call(line, slot), 0) << line;
    EXPECT_EQ(callInt(port, "SerSendBreak", "(II)I", slot, 1000), 0);
    EXPECT_EQ(callInt(port, "SerGetLibVer", "()I"), 262151);
}

// Slot 5 is free; 200 and -1 are outside the table and behave alike, except that
// a time-out is only kept for a slot of the table.
TEST_F(SerialNatives, FreeAndUnknownSlotsFailWithoutTouchingOtherDescriptors)
{
    jbyteArray data = bytes(8);
    for (jint slot : {5, 200, -1}) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(call("SerClosePort", slot), -1);
        EXPECT_EQ(callInt(port, "SerPutByte", "(IB)I", slot, jbyte{1}), -1);
        EXPECT_EQ(callInt(port, "SerPutData", "(I[BI)I", slot, data, 8), -1);
        EXPECT_EQ(call("SerGetByte", slot), -1);
        EXPECT_EQ(callInt(port, "SerGetData", "(I[BI)I", slot, data, 8), 0);
        for (const char* native : {"SerRxFlush", "SerTxFlush", "SerRxReadyCount", "SerTxBufCount"})
            EXPECT_EQ(call(native, slot), -1) << native;
        EXPECT_EQ(call("SerTxDrain", slot), 0);
        EXPECT_EQ(callInt(port, "SerSetDTR", "(IZ)I", slot, JNI_TRUE), -1);
        EXPECT_EQ(callInt(port, "SerSendBreak", "(II)I", slot, 1000), -1);
        EXPECT_EQ(call("SerSigCD", slot), 0);

        const jint kept = slot == 5 ? 1 : 0;
        EXPECT_EQ(callInt(port, "SerSetTimeoutRx", "(II)I", slot, 300), kept);
        EXPECT_EQ(callInt(port, "SerSetTimeoutTx", "(II)I", slot, 400), kept);
        EXPECT_EQ(direct("SerGetTimeoutRx", slot), kept * 300);
        EXPECT_EQ(takeException(), "java.io.IOException: Port not open");
        EXPECT_EQ(direct("SerGetTimeoutTx", slot), kept * 400);
        EXPECT_EQ(takeException(), "java.io.IOException: Port not open");
    }
    EXPECT_NE(fcntl(STDIN_FILENO, F_GETFD), -1);
    EXPECT_NE(fcntl(STDOUT_FILENO, F_GETFD), -1);
}

TEST_F(SerialNatives, CardPowerAndBatteryTakeTheirFailurePaths)
{
    std::ifstream devices("/proc/devices");
    const std::string listing((std::istreambuf_iterator<char>(devices)), std::istreambuf_iterator<char>());
    struct stat apm;
    if (listing.find(" pcmcia\n") != std::string::npos || stat("/proc/apm", &apm) == 0)
        GTEST_SKIP() << "this machine has a card driver or APM";

    struct Row {
        jint slot;
        std::string exception;
    } rows[] = {
        {9, "java.io.IOException: Invalid slot number"},
        {-1, "java.io.IOException: Invalid slot number"},
        {0, "java.io.IOException: PCMCIA device lookup failed"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.slot);
        EXPECT_EQ(direct("SerSetPowerMode", r.slot, jint{1}), 5001);
        EXPECT_EQ(takeException(), r.exception);
        EXPECT_EQ(direct("SerGetPowerMode", r.slot), 5001);
        EXPECT_EQ(takeException(), r.exception);
    }
    EXPECT_EQ(callInt(port, "SerSetPowerMode", "(II)I", 0, 2), 5000);
    EXPECT_EQ(takeException(), "");
    EXPECT_EQ(direct("SerGetStatusAPM"), -1);
    EXPECT_EQ(takeException(), "java.io.IOException: Failed to get APM status");
}

TEST_F(SerialNatives, ResumeFlagRecordsAContinue)
{
    PtyPair pty;
    ASSERT_GE(openPty(pty), 0) << takeException();
    EXPECT_EQ(callInt(port, "SerGetResumeState", "(Z)I", JNI_TRUE), 0);
    ASSERT_EQ(raise(SIGCONT), 0);
    EXPECT_EQ(callInt(port, "SerGetResumeState", "(Z)I", JNI_FALSE), 1);
    EXPECT_EQ(callInt(port, "SerGetResumeState", "(Z)I", JNI_FALSE), 1);
    EXPECT_EQ(callInt(port, "SerGetResumeState", "(Z)I", JNI_TRUE), 1);
    EXPECT_EQ(callInt(port, "SerGetResumeState", "(Z)I", JNI_FALSE), 0);
}

} // namespace
