#include "comm.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "configfile.h"
#include "sharedmem.h"
#include "timer.h"

namespace {

void setRadarConnection(int value) {
    if (sharedmem != nullptr) sharedmem->status.radarConnection = value;
}

// Termios speed of a baud rate; rates the radar never uses give 38400.
speed_t baudConstant(long baudrate) {
    switch (baudrate) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 115200: return B115200;
    default:
        printf("\nBaud rate %ld is not one of the radar's: the line runs at 38400", baudrate);
        return B38400;
    }
}

}  // namespace

int buildFrame(int radId, int command, const char* data, int length, uint8_t* frame) {
    if (length < 0) length = 0;
    if (length > FRAME_MAX_PAYLOAD) length = FRAME_MAX_PAYLOAD;
    frame[0] = 0x01;
    frame[1] = uint8_t(command);
    frame[2] = uint8_t(~command);
    frame[3] = uint8_t(radId);
    frame[4] = uint8_t(length >> 8);
    frame[5] = uint8_t(length);
    if (length > 0) std::memcpy(frame + 6, data, size_t(length));
    unsigned sum = 0;
    for (int i = 0; i < 6 + length; ++i) sum += frame[i];
    frame[6 + length] = uint8_t(sum);
    return length + 7;
}

bool ReplyParser::feed(uint8_t byte) {
    switch (state_) {
    case 0:
        if (byte == 0x01) {
            header_[0] = byte;
            state_ = 1;
        }
        return false;
    case 1:
    case 2:
    case 4:
        header_[state_++] = byte;
        return false;
    case 3:
        // The address byte is not kept; a wrong complement means this was no start byte.
        state_ = uint8_t(header_[0] + header_[1] + header_[2]) == 0 ? 4 : 0;
        return false;
    case 5:
        header_[5] = byte;
        length_ = header_[4] * 256 + header_[5];
        state_ = 6;
        return false;
    default:
        if (count_ < capacity_ - 1) buffer_[count_] = char(byte);
        ++count_;
        ++state_;
        if (!complete_ && count_ >= length_) {
            complete_ = true;
            return true;
        }
        return false;
    }
}

CommClass::CommClass(ConfigFile* cfp, std::string sec, double timeout, const SerialTiming& timing)
    : RadarFrontEnd(cfp, std::move(sec), timeout), timing_(timing) {
    std::memset(reply_, 0, sizeof reply_);
    std::memset(answer_, 0, sizeof answer_);
    sweepSize = int(cf->ValueLong(section, "sweepsize"));
    nrOfSweeps = int(cf->ValueLong(section, "nrofsweeps"));
    sweepSpeed = int(cf->ValueLong(section, "scanspeed"));
    errorcount = 0;
    setRadarConnection(0);
}

CommClass::~CommClass() {
    if (connection > 0) close(connection);
}

int CommClass::Settings(std::string device, long baudrate, const char* parity, long databits, long stopbits) {
    devicename = std::move(device);
    std::memset(&sio, 0, sizeof sio);
    const speed_t speed = baudConstant(baudrate);
    tcflag_t size = CS8;
    if (databits == 5) size = CS5;
    if (databits == 6) size = CS6;
    if (databits == 7) size = CS7;
    sio.c_cflag = speed | CREAD | CLOCAL | size;
    if (stopbits == 2) sio.c_cflag |= CSTOPB;
    if (parity != nullptr && std::strcmp(parity, "o") == 0) sio.c_cflag |= PARENB | PARODD;
    if (parity != nullptr && std::strcmp(parity, "e") == 0) sio.c_cflag |= PARENB;
    sio.c_iflag = IGNPAR | INPCK;
    sio.c_oflag = 0;
    sio.c_lflag = 0;
    sio.c_cc[VMIN] = 16;
    sio.c_cc[VTIME] = 10;
    cfsetispeed(&sio, speed);
    cfsetospeed(&sio, speed);
    return 0;
}

int CommClass::setRS485(int on) {
    rs485 = on;
    return 0;
}

int CommClass::openComm() {
    const int fd = open(devicename.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_SYNC);
    if (fd < 0) {
        perror(devicename.c_str());
        exit(-1);
    }
    connection = fd;
    setRadarConnection(1);
    tcflush(fd, TCIOFLUSH);
    if (tcsetattr(fd, TCSANOW, &sio) != 0) perror("tcsetattr");
    fcntl(fd, F_SETFL, O_NONBLOCK);
    const char zeros[3] = {0, 0, 0};
    if (write(fd, zeros, sizeof zeros) != ssize_t(sizeof zeros)) errorcount += 1;
    if (rs485 != 0) eatEcho(zeros, sizeof zeros);
    return 0;
}

void CommClass::pause(int ms) const { uSleep(int64_t(ms) * 1000); }

int CommClass::rs485Mode(int mode) {
    if (debug > 10) printf("\nWrite\t: %s\t\t\tRead\t: Open\n", mode == 1 ? "Open" : "Close");
    // Receiving on a half-duplex line starts once everything sent has left.
    if (mode == 0 && connection != 0) tcdrain(connection);
    return 0;
}

int CommClass::sendCommand(char radId, char command, const char* data, int length, double) {
    if (connection == 0) {
        printf("\r\n sendCommand return=-1");
        return -1;
    }
    rs485Mode(1);
    uint8_t frame[FRAME_BUFFER_SIZE];
    const int n = buildFrame(uint8_t(radId), uint8_t(command), data, length, frame);
    if (write(connection, frame, size_t(n)) != ssize_t(n)) {
        if (deviceGone(errno)) serialLineLost(devicename, errno);
        errorcount += 2;
    }
    if (debug > 4) {
        printf("\nsendCommand:");
        for (int i = 0; i < n; ++i) printf("%x,", frame[i]);
    }
    if (rs485 != 0) eatEcho(reinterpret_cast<const char*>(frame), n);
    return 0;
}

int CommClass::eatEcho(const char* sent, int length) {
    if (rs485 == 0) return 0;
    rs485Mode(0);
    int got = 0, differ = 0;
    if (readable(timing_.echoFirstMs)) {
        const double deadline = getTime() + Timeout;
        char echo[FRAME_BUFFER_SIZE];
        while (getTime() < deadline && got < length) {
            const ssize_t n = read(connection, echo, size_t(std::min(length - got, int(sizeof echo))));
            if (n <= 0 && readFoundLineGone(n, errno)) serialLineLost(devicename, n == 0 ? 0 : errno);
            if (n <= 0) {
                readable(timing_.echoGapMs);
                continue;
            }
            for (ssize_t i = 0; i < n; ++i) differ += echo[i] != sent[got + i];
            got += int(n);
        }
    }
    if (got >= length) {
        if (debug > 8) printf("\neatEcho2:count=%d length=%d", got, length);
        return differ;
    }
    if (debug != 0) printf("eatEcho2:timeout\n");
    return -1;
}

int CommClass::eatEcho(char c) {
    if (rs485 == 0) return 0;
    rs485Mode(0);
    if (readable(timing_.echoFirstMs)) {
        const double deadline = getTime() + Timeout;
        while (getTime() < deadline) {
            char b;
            const ssize_t n = read(connection, &b, 1);
            if (n == 1) {
                if (b == c) return 0;
            } else {
                if (readFoundLineGone(n, errno)) serialLineLost(devicename, n == 0 ? 0 : errno);
                readable(timing_.echoByteMs);
            }
        }
    }
    if (debug != 0) printf("eatEcho:timeout\n");
    return -1;
}

int CommClass::receiveData(char* buffer, int capacity, int* length, double) {
    pause(timing_.settleMs);
    *length = 0;
    lastStored_ = 0;
    if (capacity > 0) buffer[0] = 0;
    if (connection == 0) {
        errorcount += 1;
        return -1;
    }
    if (debug > 7) printf("\nsweepSpeed=%d \nreceiveData: ", sweepSpeed);
    double deadline = getTime() + timing_.receiveBaseMs + sweepSpeed / 3;
    if (debug > 6) printf("\nBefore timer");
    ReplyParser parser(buffer, capacity);
    int available = 0;
    double lastStart = 0, headerAt = 0;
    uint8_t chunk[RECEIVE_CHUNK];
    while (getTime() < deadline) {
        // Once bytes were seen the count is kept, so later reads skip the polling.
        for (int p = 0; available == 0 && p < timing_.pollCount; ++p) {
            pause(timing_.settleMs);
            if (ioctl(connection, FIONREAD, &available) < 0) {
                if (deviceGone(errno)) serialLineLost(devicename, errno);
                printf("\r\nIoCTL error %d, exit\r\n", 1);
                fflush(stdout);
                exit(1);
            }
        }
        if (debug > 6) printf("\nBefore select");
        if (available > RECEIVE_CHUNK) available = RECEIVE_CHUNK;
        if (!readable(timing_.cycleReadableMs)) continue;
        if (debug > 6) printf("\nBefore read");
        const ssize_t n = read(connection, chunk, size_t(available));
        if (n <= 0 && readFoundLineGone(n, errno)) serialLineLost(devicename, n == 0 ? 0 : errno);
        if (n <= 0) continue;
        setRadarConnection(2);
        for (ssize_t i = 0; i < n; ++i) {
            const int before = parser.state();
            if (debug > 7) printf("%d=%x,", before, chunk[i]);
            if (parser.feed(chunk[i])) deadline = getTime() - 1;
            if (debug > 2) {
                if (before == 0) lastStart = getTime();
                if (before == 3 && parser.state() == 4) headerAt = getTime();
            }
        }
    }
    if (debug > 2) {
        const double now = getTime();
        printf("\nCom T1=%lf  T2= %lf timer= %lf", now - lastStart, now - headerAt, now - deadline);
    }
    *length = parser.announced();
    parser.terminate();
    lastStored_ = parser.stored();
    if (debug > 4) {
        printf("\nreceivedData= error:%d ", errorcount);
        for (int i = 0; i < std::min(*length, lastStored_); ++i) printf("%x ", uint8_t(buffer[i]));
        printf(" l=%d\n", *length);
    }
    if (parser.complete()) return 0;
    errorcount += 1;
    return -1;
}

int CommClass::getVersion() {
    const int sent = sendCommand(char(radId), 5, nullptr, 0, 0);
    if (debug != 0) printf("\nSendCommand Result: %d", sent);
    char* text = sharedmem != nullptr ? sharedmem->status.radarVersion : reply_;
    const int capacity = sharedmem != nullptr ? int(sizeof sharedmem->status.radarVersion) : REPLY_CAPACITY;
    int length = 0;
    const int result = receiveData(text, capacity, &length, 0);
    // The checksum and whatever followed in the same read are no part of the text.
    if (length >= 0 && length < lastStored_) text[length] = 0;
    printf("\nRadar Version: %s (len=%d)", text, length);
    return result;
}

int CommClass::reset(double) {
    sendCommand(char(radId), 6, nullptr, 0, 0);
    pause(timing_.replyPauseMs);
    int length = 0;
    receiveData(reply_, REPLY_CAPACITY, &length, 0);
    return 0;
}

int CommClass::getStatus(double) {
    sendCommand(char(radId), 7, nullptr, 0, 0);
    pause(timing_.replyPauseMs);
    int length = 0;
    const int result = receiveData(reply_, REPLY_CAPACITY, &length, 0);
    const int kept = std::min(length, lastStored_);
    reply_[kept] = 0;
    if (debug > 4) {
        printf("\ngetStatus: ");
        for (int i = 0; i < kept; ++i) printf("%x,", uint8_t(reply_[i]));
        printf(" Temp:%f", double(uint8_t(reply_[4])));
    }
    return result;
}

int CommClass::emptyBuffers(double) {
    int length = 0;
    for (int r = 0; r < timing_.emptyCycles; ++r) {
        // Each poll hands back what the previous one brought.
        const int carry = std::min(std::min(length, lastStored_), FRAME_MAX_PAYLOAD);
        sendCommand(char(radId), 3, reply_, carry, 0);
        pause(timing_.replyPauseMs);
        receiveData(reply_, REPLY_CAPACITY, &length, 0);
        if (length == 0) return r <= timing_.emptyCycles - 2 ? 0 : 1;
    }
    return 1;
}

int CommClass::startMeasurement() {
    const double start = debug != 0 ? getTime() : 0;
    const int result = sendCommand(char(radId), 8, nullptr, 0, 0);
    if (debug != 0) printf("\ncom StartSweep totaltime:%.0lf", getTime() - start);
    return result;
}

int CommClass::getMeasurement(char* buffer, int* length, double) {
    const bool timed = debug != 0;
    double t[7] = {};
    if (timed) t[0] = getTime();
    errorcount = 0;
    if (connection != 0) tcflush(connection, TCIFLUSH);
    if (timed) t[1] = getTime();
    const int sent = sendCommand(char(radId), 4, nullptr, 0, 0);
    if (sent != 0) errorcount += 1;
    if (debug > 2) printf("\nGetSweep result:%d", sent);
    if (timed) t[2] = getTime();
    *length = 0;
    const int received = receiveData(buffer, SWEEP_CAPACITY, length, 0);
    if (received == -1) errorcount += 1;
    if (timed) t[3] = getTime();
    // A sweep that did not come whole, or that the record cannot hold, is no sweep.
    if (received != 0) *length = 0;
    if (*length > SWEEP_CAPACITY - 1) {
        if (debug != 0) printf("\nSweep of %d bytes does not fit in %d", *length, SWEEP_CAPACITY - 1);
        *length = 0;
        errorcount += 1;
    }
    if (timed) t[4] = getTime();
    if (debug > 4) {
        printf("\ndata=");
        for (int i = 0; i < *length; ++i) printf("%x ", uint8_t(buffer[i]));
        printf(" l=%d\n", *length);
    }
    if (timed) {
        t[5] = getTime();
        t[6] = getTime();
        printf("\nSweep #result:%d\n", *length);
        printf("\ncom GetM total:%.0lf t2:%.0lf t3:%.0lf t4:%.0lf t5:%.0lf t6:%.0lf t7:%.0lf", t[6] - t[0],
               t[1] - t[0], t[2] - t[1], t[3] - t[2], t[4] - t[3], t[5] - t[4], t[6] - t[5]);
    }
    return errorcount;
}
int CommClass::getMeasurement(radar_st* record, double timeout) {
    return getMeasurement(record->data.com, &record->length, timeout);
}
