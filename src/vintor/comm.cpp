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
#include "misc.h"
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
            endIfReadFoundLineGone(n, devicename);
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
                endIfReadFoundLineGone(n, devicename);
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
    auto countWaiting = [&] {
        if (ioctl(connection, FIONREAD, &available) < 0) {
            if (deviceGone(errno)) serialLineLost(devicename, errno);
            printf("\r\nIoCTL error %d, exit\r\n", 1);
            fflush(stdout);
            exit(1);
        }
    };
    while (getTime() < deadline) {
        // Once bytes were seen the count is kept, so later reads skip the polling.
        for (int p = 0; available == 0 && p < timing_.pollCount; ++p) {
            pause(timing_.settleMs);
            countWaiting();
        }
        if (debug > 6) printf("\nBefore select");
        if (!readable(timing_.cycleReadableMs)) continue;
        // A reply that came after the polling gave up: count it now, so that it
        // is read like one that came in time.
        if (available == 0) countWaiting();
        if (available > RECEIVE_CHUNK) available = RECEIVE_CHUNK;
        if (debug > 6) printf("\nBefore read");
        // Readable with nothing counted is a hang-up (or a byte just in): a
        // read of what is there tells which. A read of 0 bytes would say nothing.
        const ssize_t n = read(connection, chunk, size_t(available > 0 ? available : RECEIVE_CHUNK));
        endIfReadFoundLineGone(n, devicename);
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

// The set-up: CAN messages tunnelled through command-2 frames, answers
// fetched piece by piece with command 3, and the conversation that reads the
// radar's version and configures its sweeps.

int CommClass::sendCAN(int id, int command, const char* data, int length, double timeout) {
    const int ident = canIdentifier(command);
    const int pieces = length > 0 ? (length + 5) / 6 : 0;
    int replyLength = 0;
    for (int k = 0; k <= pieces; ++k) {
        char piece[10] = {char(ident >> 8), char(ident & 0xFF), char(k & 0xFF), char(k >> 8), 0, 0, 0, 0, 0, 0};
        int n = 10;
        if (length <= 0) {
            n = 2;  // a message without data is its identifier alone
        } else if (k == 0) {
            piece[4] = char(pieces & 0xFF);
            piece[5] = char(pieces >> 8);
        } else {
            const int from = (k - 1) * 6;
            const int take = std::min(6, length - from);
            std::memcpy(piece + 4, data + from, size_t(take));
            n = 4 + take;
        }
        sendCommand(char(id), 2, piece, n, timeout);
        receiveData(reply_, REPLY_CAPACITY, &replyLength, timeout);
    }
    return pieces + 1;
}

int CommClass::receiveCAN(char* answer, int capacity, int* length, double timeout) {
    CanAnswer assembled(answer, capacity);
    *length = 0;
    int replyLength = 0;
    auto poll = [&] {
        sendCommand(char(radId), 3, nullptr, 0, timeout);
        const int r = receiveData(reply_, REPLY_CAPACITY, &replyLength, timeout);
        replyLength = std::min(replyLength, lastStored_);
        return r;
    };
    if (poll() != 0) {
        if (debug > 3) printf(" CANdata= l=%d\n", 0);
        return 1;
    }
    const int pieces = canPiecesAnnounced(reply_, replyLength);
    if (pieces == 0) {
        if (debug > 3) printf(" CANdata= l=%d\n", 0);
        return 0;
    }
    if (debug > 4) printf("CANcount: %d\n", pieces);
    int last = 0;
    // An answer that would not fit is cut; its remaining pieces stay with the radar.
    for (int k = 1; k <= pieces && !assembled.full(); ++k) {
        last = poll();
        const int counter = canPieceCounter(reply_, replyLength);
        if (counter < 0) continue;
        if (debug > 5) printf("CANcounter: %d\n", counter);
        if (counter != k) printf("CAN message sequence error: Expected number: %d, found: %d", k, counter);
        assembled.append(reply_, replyLength);
    }
    *length = assembled.length;
    if (debug > 3) {
        printf(" CANdata=");
        for (int i = 0; i < assembled.length; ++i) printf("%x ", uint8_t(answer[i]));
        printf(" l=%d\n", assembled.length);
    }
    return last != 0 ? 1 : 0;
}

int CommClass::requestAnswer(char command, const char* data, int length, char* answer, int capacity,
                             int* answerLength, double timeout) {
    *answerLength = 0;
    const int sent = sendCAN(radId, uint8_t(command), data, length, timeout);
    if (debug > 7) printf("\nmsgCount=%d", sent);
    const double start = getTime();
    while (getTime() - start < timing_.answerWindowMs) {
        if (receiveCAN(answer, capacity, answerLength, timeout) == 1) return -2;
        if (*answerLength != 0) return 0;
        pause(timing_.answerPollMs);
    }
    return -1;
}

int CommClass::commandAcknowledge(char command, const char* data, int length, double timeout) {
    const int sent = sendCAN(radId, uint8_t(command), data, length, timeout);
    int answerLength = 0;
    const int result = receiveCAN(answer_, CAN_ANSWER_CAPACITY, &answerLength, timeout);
    char hex[2 * CAN_ANSWER_CAPACITY + 1] = "";
    if (debug > 9) util::binToHex(answer_, answerLength, hex);
    if (result == 0) {
        if (debug > 9) printf("Received:%s ;msgcnt=%d\n", hex, sent);
        return 0;
    }
    if (debug > 9) printf("Receivedfailed:%s\n", hex);
    pause(timing_.replyPauseMs);
    return -1;
}

int CommClass::getSweepInitString24(int size, int art1a, char* buffer, int* length) {
    const char* digits = nullptr;
    switch (size) {
    case 256: digits = "09926010182085500100550"; break;
    case 512: digits = "09798010310085500100550"; break;
    case 1024: digits = "09542010566085500100550"; break;
    case 2048: digits = "09030011078085500100550"; break;
    default: break;
    }
    const char* tail = art1a != 0 ? "32" : "16";
    if (digits == nullptr) {
        printf("\nUnsuported sweep size: %d", size);
        std::memcpy(buffer, tail, 3);
        *length = 2;
        return 1;
    }
    std::memcpy(buffer, digits, 23);
    std::memcpy(buffer + 23, tail, 3);
    *length = 25;
    return 0;
}

int CommClass::getSweepInitString06(int size, char* buffer, int* length) {
    static const char base[] = "-4+000+000-1999201D11D----WG22FN--------";
    std::memcpy(buffer, base, sizeof base);
    char code = 0;
    switch (size) {
    case 128: code = '4'; break;
    case 256: code = '3'; break;
    case 512: code = '2'; break;
    case 1024: code = '1'; break;
    case 2048: code = '0'; break;
    default: break;
    }
    if (code == 0) {
        printf("Unsuported sweep size: %d\n", size);
        *length = 0;
        return 1;
    }
    buffer[29] = code;
    *length = 40;
    return 0;
}

namespace {

// The float of an answer at byte `at`: its bytes are stored swapped in pairs.
float answerFloat(const char* answer, int at) {
    auto b = [answer](int i) { return int(uint8_t(answer[i])); };
    return util::bytes2float(b(at + 1), b(at), b(at + 3), b(at + 2));
}

}  // namespace

int CommClass::configRadar(double timeout) {
    const int result = setUp(timeout);
    // Acquisition goes on either way: a radar set up before a restart still measures.
    printf("\nconfigRadar result: %d", result);
    return result;
}

int CommClass::readCanVersion(double timeout) {
    // Zero-filled, so bytes an answer lacks read as 0.
    char answer[CAN_ANSWER_CAPACITY];
    int length = 0;
    int result = -1;
    for (int i = 0; i < timing_.versionTries; ++i) {
        std::memset(answer, 0, sizeof answer);
        result = requestAnswer(4, nullptr, 0, answer, sizeof answer, &length, timeout);
        pause(timing_.answerPollMs);
        if (result == 0) break;
    }
    if (result != 0) {
        length = 0;
        answer[0] = 0;
    }
    if (debug != 0) printf("\nSendCan Result: %d", result);
    printf("\nString:");
    for (int i = 0; i < length; ++i) printf("%X", uint8_t(answer[i]));
    printf("|length=%d", length);
    const int art1a = length >= 54 && answer[53] == '6' ? 0 : 1;
    printf("\nCAN Version: %s art1a=%d (len=%d)", answer, art1a, length);
    return art1a;
}

void CommClass::readAntennaOffsets(double timeout) {
    // Zero-filled, so parameter bytes an answer lacks read as 0.
    char answer[CAN_ANSWER_CAPACITY];
    int length = 0;
    std::memset(answer, 0, sizeof answer);
    int result = requestAnswer(84, nullptr, 0, answer, sizeof answer, &length, timeout);
    const float f1 = answerFloat(answer, 428);
    if (debug != 0) {
        printf("\nAU Params Result: %d", result);
        printf("%f, ", double(f1));
    }

    pause(timing_.stepPauseMs);
    std::memset(answer, 0, sizeof answer);
    result = requestAnswer(92, nullptr, 0, answer, sizeof answer, &length, timeout);
    if (debug != 0) {
        const float f2 = answerFloat(answer, 6);
        const float f3 = answerFloat(answer, 10);
        printf("\nRA Antenna Result: %d", result);
        printf("Offset -> %f, ", double(f1 + f2));
        printf("%f, ", double(f1 + f2 + f3));
        printf("\nfinal: %f", double((f1 + f2 + f3) * 100));
    }
}

int CommClass::sweepInitString(int command, int art1a, std::string* text) {
    cf->Value(section, command == 24 ? "init24" : "init06", text);
    if (!text->empty()) return 0;
    char built[48];
    int n = 0;
    const int result = command == 24 ? getSweepInitString24(sweepSize, art1a, built, &n)
                                     : getSweepInitString06(sweepSize, built, &n);
    text->assign(built, size_t(n));
    return result;
}

int CommClass::setUp(double timeout) {
    const int art1a = readCanVersion(timeout);
    pause(timing_.stepPauseMs);
    readAntennaOffsets(timeout);

    pause(timing_.ackPauseMs);
    const char command12[2] = {2, 0};
    if (commandAcknowledge(12, command12, 2, timeout) != 0) return 1;
    if (debug != 0) printf("\ncommandAck 12: %d", 0);

    for (const int command : {24, 6}) {
        std::string text;
        const int built = sweepInitString(command, art1a, &text);
        if (debug != 0)
            printf("\ngetSweepInitString%02d: %d length=%d %s", command, built, int(text.size()), text.c_str());
        if (built == 1) return 1;
        const int ack = commandAcknowledge(char(command), text.data(), int(text.size()), timeout);
        if (debug > 2) printf("\ncommandAck %02d: %d", command, ack);
        if (command == 6 && text.size() > 29) printf("\nRadar type: %x", unsigned(uint8_t(text[29])));
        if (ack != 0) return 1;
    }

    const int n = sweepSize * nrOfSweeps * 2;
    printf("\nnrOfBytes %d=%d * %d * 2", n, sweepSize, nrOfSweeps);
    const char config[4] = {0, 0, char((n / 256) & 0xFF), char(n % 256)};
    const int sent = sendCommand(char(radId), 1, config, 4, timeout);
    if (debug != 0) printf("\nSendCommand SetConfig Result: %d", sent);
    int replyLength = 0;
    receiveData(reply_, REPLY_CAPACITY, &replyLength, timeout);
    if (debug != 0) printf("\nReceive SetConfig: %s (len=%d)", reply_, replyLength);
    return 0;
}
