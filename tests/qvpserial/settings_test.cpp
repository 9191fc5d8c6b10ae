// Line settings of libqvpSerial, checked on the structure itself: a
// pseudo-terminal forces 8 data bits and no parity, so these cannot all be read
// back from one.
#include <gtest/gtest.h>

#include "serialport.h"

using namespace qvpserial;

TEST(LineSettings, FollowParityDataStopBitsAndHandshake)
{
    struct Row {
        int bitRate, parity, dataBits, stopBits, handshake;
        speed_t speed;
        tcflag_t cflag; // besides CREAD | CLOCAL
        tcflag_t iflag;
    } rows[] = {
        {7, 0, 3, 0, 0, B9600, CS8, IGNBRK | IGNPAR},
        {0, 1, 0, 1, 0, B110, CS5 | CSTOPB | PARENB | PARODD, IGNBRK | INPCK},
        {12, 2, 2, 0, 0, B230400, CS7 | PARENB, IGNBRK | INPCK},
        {11, 3, 1, 0, 0, B115200, CS6 | PARENB | CMSPAR | PARODD, IGNBRK},
        {8, 4, 3, 0, 0, B19200, CS8 | PARENB | CMSPAR, IGNBRK},
        {8, 5, 3, 0, 0, B19200, CS8, IGNBRK | IGNPAR},
        {7, 0, 3, 0, 1, B9600, CS8, IGNBRK | IGNPAR | IXON | IXOFF},
        {7, 0, 3, 0, 0x40, B9600, CS8, IGNBRK | IGNPAR | IXOFF},
        {7, 0, 3, 0, 0x80, B9600, CS8, IGNBRK | IGNPAR | IXON},
        {7, 0, 3, 0, 0xC0, B9600, CS8, IGNBRK | IGNPAR | IXON | IXOFF},
        {7, 0, 3, 0, 2, B9600, CS8 | CRTSCTS, IGNBRK | IGNPAR},
        {7, 0, 3, 0, 0x10, B9600, CS8 | CRTSCTS, IGNBRK | IGNPAR},
        {7, 0, 3, 0, 0x20, B9600, CS8 | CRTSCTS, IGNBRK | IGNPAR},
        {7, 0, 3, 0, 3, B9600, CS8, IGNBRK | IGNPAR},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "bit rate " << r.bitRate << " parity " << r.parity << " data "
                                        << r.dataBits << " stop " << r.stopBits << " handshake " << r.handshake);
        termios t;
        ASSERT_EQ(buildTermios(r.bitRate, r.parity, r.dataBits, r.stopBits, r.handshake, &t), 0);
        EXPECT_EQ(t.c_cflag & ~CBAUD, r.cflag | CREAD | CLOCAL);
        EXPECT_EQ(t.c_iflag, r.iflag);
        EXPECT_EQ(t.c_oflag | t.c_lflag, 0u);
        EXPECT_EQ(cfgetispeed(&t), r.speed);
        EXPECT_EQ(cfgetospeed(&t), r.speed);
        EXPECT_EQ(t.c_cc[VSTART], 17);
        EXPECT_EQ(t.c_cc[VSTOP], 19);
        EXPECT_EQ(t.c_cc[VMIN], 1);
        EXPECT_EQ(t.c_cc[VTIME], 0);
    }
}

TEST(LineSettings, RefuseIndicesOutsideTheTables)
{
    struct Row {
        int bitRate, dataBits, stopBits, code;
    } rows[] = {
        {13, 3, 0, 5001}, {-1, 3, 0, 5001}, {7, 4, 0, 5003}, {7, -1, 0, 5003}, {7, 3, 2, 5003}, {7, 3, -1, 5003},
    };
    for (const Row& r : rows) {
        termios t;
        EXPECT_EQ(buildTermios(r.bitRate, 0, r.dataBits, r.stopBits, 0, &t), r.code)
            << r.bitRate << " " << r.dataBits << " " << r.stopBits;
    }
}

TEST(LineSettings, BreakLastsTicsOver250)
{
    const int rows[][2] = {{1000, 4}, {100, 0}, {250, 1}, {0, 0}};
    for (const auto& r : rows) EXPECT_EQ(breakDuration(r[0]), r[1]) << r[0];
}
