// Front-end of brand 2: the station's own radar board, reached through the feed
// of its reader program. The board's records come from the shared header; this
// file adds the front-end class, so every include order of "tarnix.h" works.
#include "../../include/tarnix.h"

#ifndef VINTOR_TARNIX_FRONT_END_H
#define VINTOR_TARNIX_FRONT_END_H

#include <netinet/in.h>
#include <netdb.h>

#include <string>

#include <json/value.h>

class ConfigFile;
namespace zmq {
class context_t;
class socket_t;
}

class TarnixClass {
public:
    int connection;
    std::string devicename;
    int radId;
    int sweepSpeed;
    int sweepSize;
    int nrOfSweeps;
    int debug;
    double Timeout;
    ConfigFile* cf;
    std::string section;
    int sockfd;
    struct sockaddr_in server;
    struct addrinfo* serverinfo;
    Json::Value jcf;
    zmq::context_t* context;
    zmq::socket_t* subscriber;

    // Asks the configuration service (at the port vintor was given) for the
    // reader's feed port and subscribes to it; ends the process when it cannot.
    TarnixClass(ConfigFile* cfp, std::string Sec, double timeout);
    ~TarnixClass();

    // Next record, oldest first, waiting without limit; *length = its sweep size,
    // at most 1024. 0 on a record, 1 on a receive error or a message of another size.
    int getMeasurement(tarnix_st* data, int* length, double timeout);

    int setDebug(int level);
    int setRadId(int id);
    int getRadId();
    int getVersion();
    int getStatus(double timeout);
    int isAvailable();
    int Settings(std::string, long, const char*, long, long);
    int openRadar();
    int configRadar(double timeout);
    int reset(double timeout);
    int emptyBuffers(double timeout);
    int startMeasurement();

private:
    int cappedFrom = 0;
};

#endif
