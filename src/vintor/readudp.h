// Network replay front-end: a TCP server on the loopback address. A replay
// peer connects and answers every "g" with an up-sweep line and a down-sweep
// line in the replay line format.
#pragma once

#include <netinet/in.h>

#include <string>

#include "frontend.h"
#include "readfile.h"

class ReadUdpClass : public RadarFrontEnd {
public:
    ReadUdpClass(ConfigFile* cfp, std::string Sec, double timeout);
    ~ReadUdpClass() override;

    int openRadar() override;
    int getVersion() override;
    int getStatus(double timeout) override;
    // Asks the peer for a pair and reads the two lines of its answer into
    // data.rf; length 256, or 0 when no whole pair came or the peer has gone.
    //
    // Lines pair up by sweep number: an up sweep, then its down sweep numbered
    // one more. Which parity up sweeps have is learnt from the first pair that
    // arrives whole in one answer; from then on an up sweep whose down sweep
    // is still to come waits for it into the next answer, and a down sweep
    // without its up sweep is dropped. So a broken line costs its pair only,
    // and the pairs after it are those of a clean replay.
    //
    // The first line of an answer is waited for as long as the peer takes;
    // every line after it for at most Timeout ms (none when Timeout is 0). A
    // line that does not come in time fails the pair; if it comes later it is
    // taken and dropped before the next request, so that the next answer is
    // read from its first line.
    int getMeasurement(radar_st* record, double timeout) override;
    bool timeOfSweep(radar_st* record) override { putReplayTime(record); return true; }

    // Serves a connected peer (what openRadar accepts), forgetting any before it.
    void adoptPeer(int fd);
    bool hasPeer() const { return newsockfd >= 0; }

private:
    enum class Wait { Forever, Bounded };
    // nullptr when the peer is gone or, with Wait::Bounded, the line did not
    // come within Timeout ms (then *late is set and the bytes held so far are
    // kept for the rest of the line).
    const char* receiveLine(Wait wait, bool* late);
    bool readable(double deadline);
    bool takeLine(const char* line, u_radar_data* data);
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
    // Room for the longest line, its line end and a terminator.
    char rx_[REPLAY_MAX_LINE + 2];
    int pendStart_ = 0;
    int pendEnd_ = 0;
    readfile_raw_data_t line_{};     // the sweep of the line just read
    readfile_raw_data_t pending_{};  // an up sweep waiting for its down sweep
    bool havePending_ = false;
    int upParity_ = -1;              // 0 or 1 once a whole pair has shown it
    int owed_ = 0;                   // lines of earlier answers that did not come in time
};
