#include "readudp.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "feedbind.h"
#include "misc.h"
#include "timer.h"

ReadUdpClass::ReadUdpClass(ConfigFile* cfp, std::string Sec, double timeout)
    : RadarFrontEnd(cfp, std::move(Sec), timeout) {
    sweepSize = cf->ValueLong(section, "sweepsize");
    nrOfSweeps = cf->ValueLong(section, "nrofsweeps");
    portnumber = cf->ValueInt(section, "portnumber");
    rx_[0] = '\0';
}

ReadUdpClass::~ReadUdpClass() {
    if (newsockfd >= 0) close(newsockfd);
    if (sockfd >= 0) close(sockfd);
}

int ReadUdpClass::openRadar() {
    sockfd = socket(AF_INET, SOCK_STREAM, 0);
    if (sockfd < 0) {
        perror("socket");
        return 1;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* serverinfo = nullptr;
    if (getaddrinfo("localhost", nullptr, &hints, &serverinfo) != 0 || serverinfo == nullptr) {
        perror("getaddrinfo");
        return 1;
    }
    std::memcpy(&server, serverinfo->ai_addr, sizeof server);
    server.sin_port = htons(uint16_t(listenerPort("network replay", portnumber)));
    freeaddrinfo(serverinfo);
    // A restarted radar process must not find its port held by TIME_WAIT.
    int one = 1;
    setsockopt(sockfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(sockfd, reinterpret_cast<sockaddr*>(&server), sizeof server) < 0)
        listenerBindFailed("network replay", server, "ERROR on binding");
    listen(sockfd, 50);
    clilen = sizeof cli_addr;
    newsockfd = accept(sockfd, reinterpret_cast<sockaddr*>(&cli_addr), &clilen);
    if (newsockfd < 0) util::error("ERROR on accept");
    return 0;
}

int ReadUdpClass::getVersion() {
    printf("\nGetting version");
    return 0;
}

int ReadUdpClass::getStatus(double) {
    if (debug > 4) printf("\ngetStatus: ");
    return 0;
}

void ReadUdpClass::adoptPeer(int fd) {
    if (newsockfd >= 0 && newsockfd != fd) close(newsockfd);
    newsockfd = fd;
    pendStart_ = pendEnd_ = 0;
    havePending_ = false;
    owed_ = 0;
    // Another peer may replay another recording.
    upParity_ = -1;
}

void ReadUdpClass::dropPeer() {
    if (newsockfd >= 0) close(newsockfd);
    adoptPeer(-1);
}

namespace {

double monotonicMs() {
    const timespec ts = readClock(CLOCK_MONOTONIC);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

}  // namespace

// Whether the peer has bytes (or has gone) before the deadline (monotonic ms).
bool ReadUdpClass::readable(double deadline) {
    for (;;) {
        const double left = deadline - monotonicMs();
        if (left <= 0) return false;
        pollfd p{newsockfd, POLLIN, 0};
        const int r = poll(&p, 1, left >= 2e9 ? 2000000000 : int(std::ceil(left)));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return true;  // the receive reports it
    }
}

// The next line, NUL-terminated inside rx_, or nullptr when the peer is gone
// or a bounded wait has run out (*late).
// A line longer than REPLAY_MAX_LINE is read to its end and dropped: it comes
// back as an empty line, which holds no sweep, so it still counts as one line.
const char* ReadUdpClass::receiveLine(Wait wait, bool* late) {
    static const char dropped[] = "";
    bool dropping = false;
    *late = false;
    const bool bounded = wait == Wait::Bounded && Timeout > 0;
    const double deadline = bounded ? monotonicMs() + Timeout : 0;
    for (;;) {
        char* start = rx_ + pendStart_;
        const int have = pendEnd_ - pendStart_;
        if (char* nl = static_cast<char*>(std::memchr(start, '\n', size_t(have)))) {
            *nl = '\0';
            pendStart_ = int(nl - rx_) + 1;
            return dropping ? dropped : start;
        }
        // No line end among the held bytes: keep the start of the line (or,
        // past its room, nothing) and receive its rest.
        if (!dropping && have > REPLAY_MAX_LINE) dropping = true;
        if (!dropping) std::memmove(rx_, start, size_t(have));
        pendStart_ = 0;
        pendEnd_ = dropping ? 0 : have;
        if (bounded && !readable(deadline)) {
            // What came of the line stays for its rest; a line being dropped
            // is dropped whole only when it ends within a wait.
            *late = true;
            return nullptr;
        }
        ssize_t n;
        do {
            n = recv(newsockfd, rx_ + pendEnd_, size_t(REPLAY_MAX_LINE + 1 - pendEnd_), 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            perror("recv");
            return nullptr;
        }
        if (n == 0) {
            printf("\nReadUdp: the replay peer closed the connection");
            return nullptr;
        }
        pendEnd_ += int(n);
        if (!dropping && pendEnd_ <= REPLAY_MAX_LINE && std::memchr(rx_, '\n', size_t(pendEnd_)) == nullptr) {
            // A peer that does not end its lines: the receive is the line.
            rx_[pendEnd_] = '\0';
            pendStart_ = pendEnd_ = 0;
            return rx_;
        }
    }
}

// Takes one line in; true when it completes a pair, then in data->rf.
bool ReadUdpClass::takeLine(const char* line, u_radar_data* data) {
    if (extractData(line, &line_) != 0) {
        havePending_ = false;
        return false;
    }
    const int parity = int(static_cast<unsigned>(line_.sweepnr) & 1u);
    if (havePending_ && static_cast<long long>(line_.sweepnr) == static_cast<long long>(pending_.sweepnr) + 1) {
        data->rf[0] = pending_;
        data->rf[1] = line_;
        upParity_ = parity ^ 1;
        havePending_ = false;
        return true;
    }
    havePending_ = upParity_ < 0 || parity == upParity_;
    if (havePending_) pending_ = line_;
    return false;
}

int ReadUdpClass::getMeasurement(radar_st* record, double) {
    u_radar_data* data = &record->data;
    int* length = &record->length;
    *length = 0;
    if (debug) printf("\nReadUdp Next");
    if (newsockfd < 0) {
        // The previous peer left: wait for the next one, as at start.
        clilen = sizeof cli_addr;
        const int fd = accept(sockfd, reinterpret_cast<sockaddr*>(&cli_addr), &clilen);
        if (fd < 0) util::error("ERROR on accept");
        adoptPeer(fd);
    }
    // A line that came too late belongs to a failed pair: taken (within one
    // more wait) and dropped, so that this answer is read from its first line.
    while (owed_ > 0) {
        bool late = false;
        const char* line = receiveLine(Wait::Bounded, &late);
        if (line == nullptr && !late) {
            dropPeer();
            return 1;
        }
        if (debug > 4 && line != nullptr) printf("\nReadUdp late:%s", line);
        owed_ = line == nullptr ? 0 : owed_ - 1;
    }
    // MSG_NOSIGNAL: a peer that has gone must not end the radar process with SIGPIPE.
    if (send(newsockfd, "g", 1, MSG_NOSIGNAL) != 1) {
        perror("send");
        dropPeer();
        return 1;
    }
    // Both lines of the answer are read whatever the first holds, so the next
    // request starts at the next answer.
    bool paired = false;
    for (int i = 0; i < 2; ++i) {
        bool late = false;
        const char* line = receiveLine(i == 0 ? Wait::Forever : Wait::Bounded, &late);
        if (line == nullptr && late) {
            // The pair fails; its up sweep has nothing to wait for any more.
            printf("\nReadUdp: no second line within %.0f ms", Timeout);
            havePending_ = false;
            owed_ = 1;
            return 1;
        }
        if (line == nullptr) {
            dropPeer();
            return 1;
        }
        if (debug > 4) printf(i == 0 ? "\nReadUdp0:%s" : "\nReadUdp1:%s", line);
        // Until a pair has shown which sweeps come first, a pair must come in one answer.
        if (i == 0 && upParity_ < 0) havePending_ = false;
        if (takeLine(line, data)) paired = true;
    }
    if (!paired) return 1;
    *length = REPLAY_SWEEP_LENGTH;
    if (debug) printReplayPair(*data);
    return 0;
}
