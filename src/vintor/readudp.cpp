#include "readudp.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "misc.h"

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
    server.sin_port = htons(uint16_t(portnumber));
    freeaddrinfo(serverinfo);
    // A restarted radar process must not find its port held by TIME_WAIT.
    int one = 1;
    setsockopt(sockfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(sockfd, reinterpret_cast<sockaddr*>(&server), sizeof server) < 0)
        util::error("ERROR on binding");
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

void ReadUdpClass::dropPeer() {
    if (newsockfd >= 0) close(newsockfd);
    newsockfd = -1;
    pendStart_ = pendEnd_ = 0;
}

// The next line, NUL-terminated inside rx_, or nullptr when the peer is gone.
const char* ReadUdpClass::receiveLine() {
    int have = pendEnd_ - pendStart_;
    if (have > 0) {
        char* start = rx_ + pendStart_;
        char* nl = static_cast<char*>(std::memchr(start, '\n', size_t(have)));
        if (nl != nullptr) {
            *nl = '\0';
            pendStart_ = int(nl - rx_) + 1;
            return start;
        }
        std::memmove(rx_, start, size_t(have));  // the start of a line: receive its rest
    }
    pendStart_ = 0;
    pendEnd_ = have > 0 ? have : 0;
    if (pendEnd_ < REPLAY_MAX_LINE) {
        ssize_t n;
        do {
            n = recv(newsockfd, rx_ + pendEnd_, size_t(REPLAY_MAX_LINE - pendEnd_), 0);
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
    }
    rx_[pendEnd_] = '\0';
    char* nl = static_cast<char*>(std::memchr(rx_, '\n', size_t(pendEnd_)));
    if (nl != nullptr) {
        *nl = '\0';
        pendStart_ = int(nl - rx_) + 1;
    } else {
        pendStart_ = pendEnd_ = 0;  // a peer that does not end its lines: the receive is the line
    }
    return rx_;
}

int ReadUdpClass::getMeasurement(radar_st* record, double) {
    u_radar_data* data = &record->data;
    int* length = &record->length;
    *length = 0;
    if (debug) printf("\nReadUdp Next");
    if (newsockfd < 0) {
        // The previous peer left: wait for the next one, as at start.
        clilen = sizeof cli_addr;
        newsockfd = accept(sockfd, reinterpret_cast<sockaddr*>(&cli_addr), &clilen);
        if (newsockfd < 0) util::error("ERROR on accept");
    }
    // MSG_NOSIGNAL: a peer that has gone must not end the radar process with SIGPIPE.
    if (send(newsockfd, "g", 1, MSG_NOSIGNAL) != 1) {
        perror("send");
        dropPeer();
        return 1;
    }
    const char* line = receiveLine();
    if (line == nullptr) {
        dropPeer();
        return 1;
    }
    if (debug > 4) printf("\nReadUdp0:%s", line);
    if (extractData(line, &data->rf[0]) != 0) return 1;
    line = receiveLine();
    if (line == nullptr) {
        dropPeer();
        return 1;
    }
    if (debug > 4) printf("\nReadUdp1:%s", line);
    int r = extractData(line, &data->rf[1]);
    *length = r != 0 ? 0 : REPLAY_SWEEP_LENGTH;
    if (debug) printReplayPair(*data);
    return r;
}
