// tilt-average: one measurement of the mounting tilt from the raw IMU feed,
// stored in the configuration memory and in a file.
#pragma once

#include <string>

struct TiltOptions {
    std::string name = "tilt-average"; // own configuration section
    int port = 5010;                    // configuration service on configHost
    char type = 'f';                    // 'f' fast, 'l' long
    bool quiet = false;
    std::string configHost = "localhost";
    std::string feedHost = "127.0.0.1";
    double fastWindow = 3.0; // seconds
    double longWindow = 60.0;
    std::string defaultFile = "/tmp/tiltAvgFast.txt";
};

// 0 once the file is written; 1 for a wrong type, no configuration or a feed
// that cannot be reached; 3 when a reply is not JSON or a ZeroMQ text send or
// receive fails; 5 for a malformed raw IMU line.
int runTiltAverage(const TiltOptions& options);
