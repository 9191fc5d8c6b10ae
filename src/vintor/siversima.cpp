#include "siversima.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "configfile.h"
#include "misc.h"
#include "timer.h"

bool appendLine(char* line, int capacity, int* used, const char* bytes, int n) {
    bool whole = false;
    for (int i = 0; i < n && !whole; ++i) {
        if (*used < capacity - 1) line[(*used)++] = bytes[i];
        whole = bytes[i] == '\n';
    }
    if (capacity > 0) line[*used] = 0;
    return whole;
}

void appendVersionPart(char* text, size_t capacity, const char* prefix, const char* reply) {
    size_t at = strnlen(text, capacity);
    if (at > 0) at -= 1;
    if (at + 1 >= capacity) return;
    std::snprintf(text + at, capacity - at, "%s%s", prefix, reply);
}

SiversimaClass::SiversimaClass(ConfigFile* cfp, std::string sec, double timeout, const SerialTiming& timing)
    : RadarFrontEnd(cfp, std::move(sec), timeout), timing_(timing) {
    sweepSize = int(cf->ValueLong(section, "sweepsize"));
    nrOfSweeps = int(cf->ValueLong(section, "nrofsweeps"));
}

SiversimaClass::~SiversimaClass() {
    if (connection > 0) close(connection);
}

int SiversimaClass::Settings(std::string device, long, const char*, long, long) {
    devicename = std::move(device);
    std::memset(&sio, 0, sizeof sio);
    sio.c_cc[VMIN] = 0;
    sio.c_cc[VTIME] = 100;
    return 0;
}

int SiversimaClass::setRS485(int on) {
    rs485 = on;
    return 0;
}

int SiversimaClass::openComm() {
    const int fd = open(devicename.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        perror(devicename.c_str());
        exit(-1);
    }
    connection = fd;
    tcflush(fd, TCIFLUSH);
    sio.c_cflag = B115200 | CS8 | CREAD | CLOCAL;
    sio.c_iflag = IGNBRK;
    cfsetispeed(&sio, B115200);
    cfsetospeed(&sio, B115200);
    if (tcsetattr(fd, TCSANOW, &sio) != 0) perror("tcsetattr");
    fcntl(fd, F_SETFL, O_NONBLOCK);
    return 0;
}

int SiversimaClass::sendCommand(char, char, const char* text, int length, double) {
    if (connection == 0) return -1;
    if (write(connection, text, size_t(length)) < 0) {
        if (deviceGone(errno)) serialLineLost(devicename, errno);
        util::error("Siversima write error");
    }
    if (debug > 2) printf("\nSendCommand: %.*s,%d", length, text, length);
    return 0;
}

int SiversimaClass::receiveData(char* line, int capacity, int* length, double) {
    *length = 0;
    line[0] = 0;
    if (connection == 0 || readable(timing_.lineReadableMs) <= 0) {
        if (debug > 4) printf("\nreceivedData=  l=%d\n", 0);
        return -1;
    }
    if (debug > 7) printf("\nreceiveData: ");
    const double deadline = getTime() + Timeout;
    int used = 0;
    bool whole = false;
    while (!whole && getTime() < deadline) {
        char chunk[16];
        const ssize_t n = read(connection, chunk, sizeof chunk);
        endIfReadFoundLineGone(n, devicename);
        if (n <= 0) {
            readable(timing_.lineReadableMs);
            continue;
        }
        whole = appendLine(line, capacity, &used, chunk, int(n));
    }
    if (debug > 4) {
        printf("\nreceivedData= ");
        for (int i = 0; i < used; ++i) printf("%c ", line[i]);
        printf(" l=%d\n", used);
    }
    return whole ? 0 : -1;
}

int SiversimaClass::requestOk(const char* text, int length, double timeout) {
    char line[SIVERS_LINE_CAPACITY];
    for (int attempt = 0; attempt < timing_.okTries; ++attempt) {
        sendCommand(0, 0, text, length, timeout);
        int n = 0;
        receiveData(line, sizeof line, &n, timeout);
        if (debug > 2) printf("\nrequestOk: %s", line);
        if (std::strstr(line, "OK") != nullptr) return 0;
        uSleep(int64_t(timing_.okPauseMs) * 1000);
    }
    return 1;
}

int SiversimaClass::reset(double timeout) { return requestOk("INIT\r\n", 6, timeout); }

int SiversimaClass::getVersion() {
    printf("\nGetting version");
    char line[SIVERS_LINE_CAPACITY];
    int n = 0;
    auto ask = [&](const char* query) {
        sendCommand(0, 0, query, int(std::strlen(query)), Timeout);
        receiveData(line, sizeof line, &n, Timeout);
    };
    ask("hardware:system ?\r\n");
    printf("\nHardware system:%s", line);
    char version[SIVERS_VERSION_CAPACITY];
    ask("version:major ?\r\n");
    std::snprintf(version, sizeof version, "\nVersion:%s", line);
    ask("version:minor ?\r\n");
    appendVersionPart(version, sizeof version, ":", line);
    ask("version:REVIsion ?\r\n");
    appendVersionPart(version, sizeof version, ":", line);
    ask("version:date ?\r\n");
    appendVersionPart(version, sizeof version, " @", line);
    printf("%s", version);
    return 0;
}

int SiversimaClass::configRadar(double timeout) {
    const int result = setUp(timeout);
    printf("\nconfigRadar result: %d", result);
    return result;
}

int SiversimaClass::setUp(double timeout) {
    if (debug != 0) printf("configRadar\r\n");
    char sweeps[40];
    std::snprintf(sweeps, sizeof sweeps, "sweep:numbers %d\r\n", nrOfSweeps);
    const char* settings[9] = {sweeps,
                               "sweep:type triangular\r\n",
                               "FREQUENCY:center 1e10\r\n",
                               "FREQUENCY:span 15e8\r\n",
                               "FREQUENCY:start 925e7\r\n",
                               "FREQUENCY:stop 1075e7\r\n",
                               "FREQUENCY:step 1e6\r\n",
                               "FREQUENCY:points 1024\r\n",
                               "FREQUENCY:immediate 1e10\r\n"};
    for (const char* s : settings) {
        if (debug != 0) printf("\n%s", s);
        if (requestOk(s, int(std::strlen(s)), timeout) != 0) return 1;
    }
    return 0;
}

int SiversimaClass::startMeasurement() {
    const double start = debug != 0 ? getTime() : 0;
    if (debug != 0) printf("\n%s", "trig:arm\r\n");
    if (requestOk("trig:arm\r\n", 10, Timeout) != 0) return 1;
    if (debug != 0) printf("\ncom StartSweep totaltime:%.0lf", getTime() - start);
    return 0;
}

int SiversimaClass::getStatus(double timeout) {
    sendCommand(0, 0, "", 0, timeout);
    uSleep(int64_t(timing_.replyPauseMs) * 1000);
    char line[SIVERS_LINE_CAPACITY] = {};
    int n = 0;
    const int result = receiveData(line, sizeof line, &n, timeout);
    if (debug > 4) printf("\ngetStatus: %s Temp:%f", line, double(uint8_t(line[4])));
    return result;
}

int SiversimaClass::getMeasurement(int32_t* values, int* count, double) {
    const bool timed = debug != 0;
    const double t0 = timed ? getTime() : 0;
    const int sent = sendCommand(0, 0, "trace:data ?\r\n", 14, 0);
    if (debug > 2) printf("\nGetSweep result:%d", sent);
    const double t1 = timed ? getTime() : 0;
    TraceParser trace(values, SIVERS_MAX_VALUES);
    *count = 0;
    int last = connection == 0 ? -1 : readable(timing_.lineReadableMs);
    const double t2 = timed ? getTime() : 0;
    if (last > 0) {
        if (debug > 7) printf("\nreceiveData: ");
        const double deadline = getTime() + Timeout;
        while (!trace.complete() && getTime() < deadline) {
            char chunk[16];
            const ssize_t n = read(connection, chunk, sizeof chunk);
            endIfReadFoundLineGone(n, devicename);
            last = int(n);
            if (n <= 0) {
                last = readable(timing_.lineReadableMs);
                continue;
            }
            for (ssize_t i = 0; i < n; ++i) {
                const TraceParser::Event e = trace.feed(chunk[i]);
                if (e == TraceParser::DONE) break;
                if (e == TraceParser::VALUE && debug > 8)
                    printf("\nBuffer%d %s => %ld ", trace.count() - 1, trace.line(), long(trace.lastValue()));
            }
        }
    }
    const double t3 = timed ? getTime() : 0;
    // A sweep cut off before its "OK" is no sweep; its values stay for the print.
    *count = trace.complete() ? trace.count() : 0;
    if (debug > 4) {
        printf("\ndata=");
        for (int i = 0; i < trace.count(); ++i) printf("%ld ", long(values[i]));
        printf(" l=%d\n", *count);
    }
    if (timed) {
        const double t4 = getTime();
        printf("\nSweep #result:%d\n", *count);
        printf("\ncom GetM total:%.0lf t2:%.0lf t3:%.0lf t4:%.0lf t5:%.0lf t6:%.0lf t7:%.0lf", t4 - t0, t1 - t0,
               t2 - t1, t3 - t2, t4 - t3, 0.0, 0.0);
    }
    return last;
}
int SiversimaClass::getMeasurement(radar_st* record, double timeout) {
    return getMeasurement(record->data.siv, &record->length, timeout);
}
