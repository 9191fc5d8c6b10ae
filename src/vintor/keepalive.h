// Tells a time server, over a short TCP connection, the program's UDP command
// port and one radar's name and pacing, so that it can keep that radar in step.
#pragma once

#include <string>

#include "defaults.h"

class ConfigFile;

class KeepAliveClass {
public:
    ConfigFile* cf;
    std::string section;  // the radar's section, e.g. "radar0"
    int debug;

    // `semaphoreKey` is the keep-alive flag's key; tests pass a private one.
    KeepAliveClass(ConfigFile* cf, const char* section, int semaphoreKey = KEYKEEPALIVE);

    // Sends "s;<portnumber>;<section>;<scanspeed>;<timeoffset>;" and its NUL to
    // vintor/timeserver, port vintor/timeport (IPv4). 0 when sent, 1 on failure.
    int activateTimer();
    // Clears the keep-alive flag, creating it when needed. 0 when done, 1 when
    // the semaphore could not be obtained or set.
    int process();

private:
    int semaphoreKey_;
};
