#include "imulink.h"

#include "fieldnumber.h"
#include "statusword.h"

#include <fcntl.h>
#include <poll.h>
#include <syslog.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

using std::chrono::milliseconds;

void syslogSink(int priority, const std::string& text)
{
    syslog(priority, "%s", text.c_str());
}

LinkWaits LinkWaits::scaled(double factor) const
{
    auto s = [factor](milliseconds m) { return milliseconds(static_cast<long long>(std::ceil(m.count() * factor))); };
    LinkWaits w;
    w.replyBudget = s(replyBudget);
    w.afterStop = s(afterStop);
    w.drainTenths = std::max(1, static_cast<int>(std::ceil(drainTenths * factor)));
    w.probeRetry = s(probeRetry);
    w.beforePass = s(beforePass);
    w.betweenSteps = s(betweenSteps);
    w.saveRetry = s(saveRetry);
    w.sampleSilence = s(sampleSilence);
    w.readErrorBackoff = s(readErrorBackoff);
    return w;
}

unsigned speedCode(int baudrate)
{
    static const struct {
        int rate;
        speed_t code;
    } table[] = {{300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},  {2400, B2400},
                 {4800, B4800}, {9600, B9600}, {19200, B19200}, {115200, B115200}};
    for (const auto& row : table)
        if (row.rate == baudrate)
            return row.code;
    // A unit configured for another rate has always run at 38400: say so, keep it.
    if (baudrate != 38400)
        printf("Warning: baud rate %d is not supported, the line runs at 38400\n", baudrate);
    return B38400;
}

namespace imureply {

namespace {

// Where the value of a reply starts, or npos when the reply ends before it (a
// comma as the last character but for the line end).
size_t valueStart(const std::string& reply)
{
    size_t end = reply.size();
    while (end > 0 && (reply[end - 1] == '\r' || reply[end - 1] == '\n'))
        end--;
    size_t comma = reply.find(',');
    size_t from = (comma == std::string::npos || comma >= end) ? 1 : comma + 2;
    return from > end ? std::string::npos : from;
}

std::string withoutLineEnds(std::string text)
{
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }), text.end());
    return text;
}

} // namespace

bool valueOf(const std::string& reply, std::string* value)
{
    size_t from = valueStart(reply);
    if (from == std::string::npos)
        return false;
    *value = withoutLineEnds(reply.substr(from));
    return true;
}

std::string infoOf(const std::string& reply)
{
    size_t comma = reply.find(',');
    size_t from = valueStart(reply);
    if (comma == std::string::npos || from == std::string::npos || from != comma + 2)
        return "Error";
    return reply.substr(from);
}

bool listOf(const std::string& reply, int n, float* values)
{
    std::string text;
    if (!valueOf(reply, &text) || text.size() < 2)
        return false;
    std::istringstream words(text.substr(1, text.size() - 2));
    std::string word;
    for (int i = 0; i < n; i++) {
        if (!(words >> word))
            return false;
        char* end = nullptr;
        values[i] = strtof(word.c_str(), &end);
        if (end != word.c_str() + word.size())
            return false;
    }
    return true;
}

} // namespace imureply

ImuLink::ImuLink(const std::string& devicePath, int baudrate, int stopbits, bool verbose, bool saveEnabled,
                 const LinkWaits& waits, LogSink logSink, int parityFlags)
    : devicePath(devicePath), baudrate(baudrate), stopbits(stopbits), verbose(verbose), saveEnabled(saveEnabled),
      waits(waits), log(std::move(logSink))
{
    openLine(parityFlags);
}

ImuLink::ImuLink() : ImuLink("", 115200, 1, false, false) {}

ImuLink::~ImuLink()
{
    if (serialFd >= 0)
        closeLink();
}

void ImuLink::openLine(int parityFlags)
{
    serialFd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (serialFd < 0) {
        markLost(strerror(errno));
        printf("Error 5\n");
    }
    configureLine(serialFd, speedCode(baudrate), parityFlags, stopbits == 2 ? CSTOPB : 0);
    setBlocking(serialFd, true);
    fflush(stdout);
}

int ImuLink::configureLine(int fd, unsigned speed, int parityFlags, int stopFlags)
{
    termios tty;
    memset(&tty, 0, sizeof tty);
    if (tcgetattr(fd, &tty) != 0) {
        printf("Error 1\n");
        return -1;
    }
    cfsetospeed(&tty, speed);
    cfsetispeed(&tty, speed);
    tty.c_cflag &= ~(PARENB | PARODD);
    tty.c_cflag |= CS8 | CREAD | CLOCAL;
    tty.c_cflag |= static_cast<tcflag_t>(parityFlags);
    tty.c_cflag &= ~(CRTSCTS | PARENB);
    if (stopFlags & CSTOPB)
        tty.c_cflag |= CSTOPB;
    else
        tty.c_cflag &= ~CSTOPB;
    tty.c_iflag &= ~(ICRNL | IXON | IXOFF | IXANY);
    tty.c_iflag |= IGNBRK;
    tty.c_oflag = 0;
    tty.c_lflag = 0;
    tty.c_cc[VMIN] = 1;
    tty.c_cc[VTIME] = 10;
    if (tcsetattr(fd, TCSANOW, &tty) != 0) {
        printf("Error 2\n");
        return -1;
    }
    return 0;
}

bool ImuLink::setReadMode(int fd, int minCount, int tenths)
{
    termios tty;
    memset(&tty, 0, sizeof tty);
    if (tcgetattr(fd, &tty) != 0) {
        printf("Error 3\n");
        return false;
    }
    tty.c_cc[VMIN] = static_cast<cc_t>(minCount);
    tty.c_cc[VTIME] = static_cast<cc_t>(tenths);
    if (tcsetattr(fd, TCSANOW, &tty) != 0)
        printf("Error 4\n");
    return true;
}

void ImuLink::setBlocking(int fd, bool block)
{
    if (setReadMode(fd, block ? 1 : 0, 10))
        fcntl(fd, F_SETFL, 0);
}

void ImuLink::closeLink()
{
    tcflush(serialFd, TCIOFLUSH);
    close(serialFd);
    serialFd = -1;
}

void ImuLink::pause(milliseconds wait) const
{
    std::this_thread::sleep_for(wait);
}

void ImuLink::logAndPrint(const std::string& text) const
{
    if (verbose)
        printf("%s\n", text.c_str());
    log(LOG_INFO, text);
}

void ImuLink::markLost(const std::string& why)
{
    if (lostReason.empty())
        lostReason = why.empty() ? "gone" : why;
}

namespace {
bool passing(int err) { return err == EINTR || err == EAGAIN || err == EWOULDBLOCK; }
} // namespace

ImuLink::Read ImuLink::readByte(char* byte, int timeoutMs)
{
    pollfd p{serialFd, POLLIN, 0};
    int ready = poll(&p, 1, std::max(0, timeoutMs));
    if (ready == 0)
        return Read::TimedOut;
    if (ready < 0)
        return Read::WaitError;
    // An unplugged device (or a terminal whose other side closed) is hung up:
    // it reads as ready for ever and never gives a byte again.
    if (p.revents & POLLNVAL) {
        markLost("not open");
        return Read::Gone;
    }
    if (p.revents & (POLLERR | POLLHUP)) {
        markLost("hung up");
        return Read::Gone;
    }
    ssize_t got = read(serialFd, byte, 1);
    if (got == 1)
        return Read::Byte;
    if (got == 0) {
        markLost("end of file");
        return Read::Gone;
    }
    if (passing(errno))
        return Read::ReadError;
    markLost(strerror(errno));
    return Read::Gone;
}

int ImuLink::sendCommand(const std::string& command, std::string* reply)
{
    reply->clear();
    // A line that never opened, or whose device is gone, has nothing to wait on.
    if (serialFd < 0 || lost())
        return -1;
    const int written = static_cast<int>(write(serialFd, command.data(), command.size()));
    if (written < 0 && !passing(errno)) {
        markLost(strerror(errno));
        return -1;
    }
    char bytes[100];
    size_t n = 0;
    const auto deadline = std::chrono::steady_clock::now() + waits.replyBudget;
    while (n < 99) {
        auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        const Read got = readByte(&bytes[n], static_cast<int>(std::max<long long>(0, left)));
        if (got == Read::Gone)
            return -1;
        if (got == Read::WaitError) {
            if (verbose)
                printf("Error from select: %s\n", strerror(errno));
            return -1;
        }
        if (got == Read::TimedOut) {
            if (verbose)
                printf("Timeout waiting for data\n");
            return 0;
        }
        if (got == Read::ReadError) {
            if (verbose)
                printf("Error from read: %s\n", strerror(errno));
            return 0;
        }
        n++;
        if (n >= 2 && bytes[n - 2] == '\r' && bytes[n - 1] == '\n')
            break;
    }
    reply->assign(bytes, n);
    log(LOG_INFO, "Command: " + command + " >> answ: " + *reply);
    return written;
}

int ImuLink::fixedCommand(const std::string& command)
{
    std::string reply;
    int count = sendCommand(command, &reply);
    if (reply.find("OK") != std::string::npos)
        return 0;
    if (verbose)
        printf("Bytes written: %d Read: %s\n", count, reply.c_str());
    return 1;
}

int ImuLink::startStream() { return fixedCommand("set,output,start\r\n"); }
int ImuLink::startStreamSd() { return fixedCommand("set,output,start sd\r\n"); }
int ImuLink::stopStreamSd() { return fixedCommand("set,output,stop sd\r\n"); }
int ImuLink::restartImu() { return fixedCommand("restart\r\n"); }
int ImuLink::sendExit() { return fixedCommand("exit\r\n"); }

int ImuLink::stopStream()
{
    const std::string command = "set,output,stop\r\n";
    std::string reply;
    int count = sendCommand(command, &reply);
    if (lost())
        return 1;
    int result = 1;
    if (reply.find("OK") != std::string::npos) {
        result = 0;
        if (verbose)
            printf("Stream stopped!\n");
    } else if (verbose) {
        printf("Command: %s Bytes written: %d Read: %s\n", command.c_str(), count, reply.c_str());
    }
    pause(waits.afterStop);
    // Lines the IMU sent before it took the stop would otherwise read as replies.
    char drained[501];
    ssize_t got = -1;
    if (setReadMode(serialFd, 0, waits.drainTenths))
        got = read(serialFd, drained, 500);
    if (got < 0 && !passing(errno))
        markLost(strerror(errno));
    setReadMode(serialFd, 1, 10);
    drained[got > 0 ? got : 0] = '\0';
    if (verbose)
        printf("Exessive Read: %s \n------------------\n", drained);
    return result;
}

int ImuLink::probeImu()
{
    std::string reply;
    sendCommand("\r\n", &reply);
    if (reply.empty()) {
        if (verbose)
            printf("Available result: Not yet\n");
        return 1;
    }
    if (verbose)
        printf("Available result: %s\n", reply.c_str());
    return 0;
}

int ImuLink::saveSettings()
{
    if (!saveEnabled) {
        if (settingsChanged == 1) {
            log(LOG_INFO, "NoSave: save option is NOT enabled");
        } else {
            if (verbose)
                printf("Save: did nothing no changes\n");
            log(LOG_INFO, "Configuration: no changes");
        }
        return 0;
    }
    settingsChanged = 1;
    std::string reply;
    int count = sendCommand("save\r\n", &reply);
    if (reply.find("OK") != std::string::npos) {
        logAndPrint("Config has been saved");
        return 0;
    }
    if (verbose)
        printf("Bytes written: %d Read: %s\n", count, reply.c_str());
    return 1;
}

std::string ImuLink::queryInfo(const std::string& command)
{
    std::string reply;
    sendCommand(command, &reply);
    return reply.empty() ? "Error" : imureply::infoOf(reply);
}

int ImuLink::checkAndSet(const std::string& group, const std::string& param, const std::string& value)
{
    const std::string get = "get," + group + "," + param + "\r\n";
    std::string reply;
    int count = sendCommand(get, &reply);
    if (count == 0)
        return 1;
    if (!reply.empty()) {
        std::string read;
        // An unreadable reply counts as a different value: the set is sent.
        bool readable = imureply::valueOf(reply, &read);
        if (verbose)
            printf("Command: %s Result : {%s} = {%s}\n", get.c_str(), value.c_str(), read.c_str());
        if (readable && read == value) {
            if (verbose)
                printf("Checked only %s = %s\n", value.c_str(), read.c_str());
            return 0;
        }
    }
    const std::string set = "set," + group + "," + param + "," + value + "\r\n";
    count = sendCommand(set, &reply);
    if (reply.find("OK") != std::string::npos) {
        settingsChanged = 1;
        return 0;
    }
    if (verbose)
        printf("Error Command: %s, Bytes written: %d Read: %s\n", set.c_str(), count, reply.c_str());
    return 1;
}

int ImuLink::checkList(const std::string& query, const std::string& setPrefix, const double* want, int n,
                       bool integers)
{
    std::string reply;
    int count = sendCommand(query, &reply);
    if (count == 0)
        return 1;
    if (!reply.empty()) {
        float got[6];
        // A short, unbracketed or non-numeric list counts as different.
        bool readable = imureply::listOf(reply, n, got);
        if (integers && verbose) {
            for (int i = 0; i < n; i++) {
                printf("%s%d==", i > 0 ? " ; " : "", static_cast<int>(want[i]));
                if (readable)
                    printf("%g", static_cast<double>(got[i]));
                else
                    printf("?");
            }
            printf("\n");
        }
        bool same = readable;
        for (int i = 0; same && i < n; i++)
            same = static_cast<float>(want[i]) == got[i];
        if (same) {
            if (verbose)
                printf("Checked only\n");
            return 0;
        }
    }
    std::string command = setPrefix;
    char number[32];
    for (int i = 0; i < n; i++) {
        if (integers)
            snprintf(number, sizeof number, "%d", static_cast<int>(want[i]));
        else
            snprintf(number, sizeof number, "%g", static_cast<double>(static_cast<float>(want[i])));
        command += (i > 0 ? " " : "") + std::string(number);
    }
    command += "]\r\n";
    count = sendCommand(command, &reply);
    if (reply.find("OK") != std::string::npos) {
        settingsChanged = 1;
        return 0;
    }
    if (verbose)
        printf("Bytes written: %d Read: %s\n", count, reply.c_str());
    return 1;
}

int ImuLink::checkMountingAngles(float pitch, float roll, float yaw)
{
    const double want[3] = {roll, pitch, yaw};
    return checkList("get,mounting,angles\r\n", "set,mounting,angles,[", want, 3, false);
}

int ImuLink::checkFineAngles(float pitch, float roll, float yaw)
{
    const double want[3] = {roll, pitch, yaw};
    return checkList("get,mounting,anglesFine\r\n", "set,mounting,anglesFine,[", want, 3, false);
}

int ImuLink::checkInvertAxes(int roll, int pitch, int yaw, int surge, int sway, int heave)
{
    const double want[6] = {double(roll), double(pitch), double(yaw), double(surge), double(sway), double(heave)};
    return checkList("getpar,parser,parser_main,InvertAxes\r\n", "setpar,parser,parser_main,InvertAxes,[", want, 6,
                     true);
}

int ImuLink::readList(const std::string& query, float* pitch, float* roll, float* yaw)
{
    std::string reply;
    sendCommand(query, &reply);
    float v[3];
    if (reply.empty() || !imureply::listOf(reply, 3, v))
        return 1;
    *roll = v[0];
    *pitch = v[1];
    *yaw = v[2];
    return 0;
}

int ImuLink::readMountingAngles(float* pitch, float* roll, float* yaw)
{
    return readList("get,mounting,angles\r\n", pitch, roll, yaw);
}

int ImuLink::readFineAngles(float* pitch, float* roll, float* yaw)
{
    return readList("get,mounting,anglesFine\r\n", pitch, roll, yaw);
}

bool ImuLink::readSample(ImuSample* sample)
{
    if (serialFd < 0 || lost())
        return false;
    char line[200] = {0};
    size_t n = 0;
    while (n < 199) {
        // A silent IMU must not hold the loop for ever: the caller restarts the stream.
        const Read got = readByte(&line[n], static_cast<int>(waits.sampleSilence.count()));
        if (got == Read::TimedOut) {
            if (verbose)
                printf("Timeout waiting for data\n");
            return false;
        }
        if (got != Read::Byte) {
            if (verbose)
                printf("Error from read: %s\n", got == Read::Gone ? lostReason.c_str() : strerror(errno));
            // A passing error must not turn into a busy loop either.
            if (got != Read::Gone)
                pause(waits.readErrorBackoff);
            return false;
        }
        n++;
        if (n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n')
            break;
    }
    if (outputId.empty())
        return false;
    return parseSample(line, outputId[0], sample);
}

bool parseSample(const char* line, char idChar, ImuSample* sample)
{
    if (line[0] == '\0' || line[0] != idChar)
        return false;
    const char* field[10] = {line};
    int count = 1;
    for (const char* p = line; *p != '\0'; p++) {
        if (*p == ',') {
            if (count < 10)
                field[count] = p + 1;
            count++;
        }
    }
    if (count < 10)
        return false;
    // A used field that is not a number is line noise, not a measured 0.
    double value[5];
    uint32_t word = 0;
    for (int i = 0; i < 5; i++)
        if (!numberField(field[3 + i], &value[i]))
            return false;
    if (!statusWordFromText(field[8], &word))
        return false;
    sample->heaveX100 = static_cast<float>(value[0] * 100.0);
    for (int i = 0; i < 3; i++)
        sample->attitude[i] = static_cast<float>(value[1 + i]);
    sample->statusValue = static_cast<float>(value[4]);
    sample->statusWord = word;
    return true;
}
