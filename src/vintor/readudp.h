// Network replay front-end: a TCP server on the loopback address. A replay
// peer connects and answers every "g" with an up-sweep line and a down-sweep
// line in the replay line format.
#pragma once

#include <netinet/in.h>

#include <string>

#include "frontend.h"
#include "readfile.h"

// Largest line taken in one receive.
constexpr int REPLAY_MAX_LINE = 12020;

class ReadUdpClass : public RadarFrontEnd {
public:
    ReadUdpClass(ConfigFile* cfp, std::string Sec, double timeout);
    ~ReadUdpClass() override;

    int openRadar() override;
    int getVersion() override;
    int getStatus(double timeout) override;
    // Asks the peer for a pair and reads its two lines into data.rf; length
    // 256, or 0 when a line holds no sweep or the peer has gone.
    int getMeasurement(radar_st* record, double timeout) override;
    bool timeOfSweep(radar_st* record) override { putReplayTime(record); return true; }

private:
    const char* receiveLine();
    void dropPeer();

    long sweepSize;
    long nrOfSweeps;
    int portnumber;
    int sockfd = -1;       // listening socket
    int newsockfd = -1;    // the replay peer; -1 while none is connected
    sockaddr_in server{};
    sockaddr_in cli_addr{};
    socklen_t clilen = sizeof(sockaddr_in);
    // Received bytes; what follows a line end is kept for the next line, so a
    // peer whose two lines arrive in one receive is still read line by line.
    char rx_[REPLAY_MAX_LINE + 1];
    int pendStart_ = 0;
    int pendEnd_ = 0;
};
