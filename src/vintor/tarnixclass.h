// Front-end of brand 2: the station's own radar board, reached through the feed
// of its reader program (tarnix-pic32). (The board's records keep the name
// "tarnix.h"; this is the class.)
#pragma once

#include <netdb.h>
#include <netinet/in.h>

#include <string>

#include <json/value.h>

#include "frontend.h"

namespace zmq {
class context_t;
class socket_t;
}

class TarnixClass : public RadarFrontEnd {
public:
    std::string devicename;
    int sweepSpeed = 0;
    int sweepSize = 0;
    int nrOfSweeps = 0;
    int sockfd = -1;
    struct sockaddr_in server {};
    struct addrinfo* serverinfo = nullptr;
    Json::Value jcf;
    zmq::context_t* context = nullptr;
    zmq::socket_t* subscriber = nullptr;

    // Asks the configuration service (at the port vintor was given) for the
    // reader's feed port and subscribes to it; ends the process when it cannot.
    TarnixClass(ConfigFile* cfp, std::string Sec, double timeout);
    ~TarnixClass() override;

    using RadarFrontEnd::getMeasurement;
    // Next record, oldest first, waiting without limit; *length = its sweep size,
    // at most 1024. 0 on a record, 1 (length 0) on a receive error or a message of another size.
    int getMeasurement(tarnix_st* data, int* length, double timeout) override;
    int getVersion() override;
    int getStatus(double timeout) override;

private:
    int cappedFrom = 0;
};
