#include "service.h"

#include "configclient.h"
#include "configrequest.h"
#include "numbers.h"
#include "tilt.h"
#include "timer.h"
#include "zhelpers.h"

#include <zmq.hpp>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

std::string ask(ConfigRequest& requests, const std::string& request, bool quiet)
{
    if (!quiet)
        printf("Sending request %s..\n", request.c_str());
    const std::string reply = exchangeOrEnd(requests, request);
    if (!quiet)
        printf("Received: %s\n", reply.c_str());
    return reply;
}

// What the measurement needs from the configuration and the options: the
// window, the file and the raw IMU feed's port. -1, or the exit status.
int measurementOf(ConfigRequest& config, const TiltOptions& o, double* window, std::string* file, int* feedPort)
{
    TiltSettings settings;
    switch (readTiltSettings(ask(config, tiltSettingsRequest(o.name), o.quiet), o.name, o.defaultFile, &settings)) {
    case SettingsReply::NotJson:
        return 3;
    case SettingsReply::NotFound:
        puts("Configuration not found");
        return 1;
    case SettingsReply::Ok:
        break;
    }
    *window = o.fastWindow;
    *file = settings.fileNameFast;
    if (o.type == 'l') {
        *window = o.longWindow;
        *file = settings.fileNameLong;
    } else if (o.type != 'f') {
        puts("Error: Wrong typeCalc parameter");
        return 1;
    }
    if (!parsePortNumber(settings.rawImuPort.c_str(), feedPort)) {
        printf("Error: wrong rawIMU-pub port (%s)\n", settings.rawImuPort.c_str());
        return 1;
    }
    return -1;
}

// Adds the feed's lines to *average for window whole seconds, one line at most
// per 5 ms pass. -1, or the exit status.
int averageFeed(zmq::context_t& context, const TiltOptions& o, int feedPort, double window, TiltAverage* average)
{
    zmq::socket_t feed(context, zmq::socket_type::sub);
    feed.set(zmq::sockopt::ipv6, 1);
    feed.set(zmq::sockopt::linger, 0);
    const std::string endpoint = "tcp://" + o.feedHost + ":" + std::to_string(feedPort);
    feed.connect(endpoint);
    feed.set(zmq::sockopt::subscribe, "");
    if (!o.quiet)
        printf("ZMQ Connected: %s\n", endpoint.c_str());

    time_t start = wallClock().tv_sec;
    time_t end = 0;
    while (difftime(end, start) < window) {
        char* line = s_recv_nonblocking(feed.handle());
        if (line != nullptr) {
            long long t = 0;
            float x = 0, y = 0, z = 0;
            bool parsed = parseRawImuLine(line, &t, &x, &y, &z);
            if (!parsed) {
                printf("Error: wrong string received (%s)", line);
                free(line);
                return 5;
            }
            free(line);
            TiltSample s = average->add(x, y, z);
            if (!o.quiet)
                printf("tiltX=%f, tiltY=%f, tiltZ=%f tiltAvgX=%f tiltAvgY=%f tiltAvgZ=%f\n", s.tiltX, s.tiltY,
                       s.tiltZ, average->sumX, average->sumY, average->sumZ);
        }
        usleep(5000);
        end = wallClock().tv_sec;
    }
    return -1;
}

// Prints the means (unless quiet), stores the tilt in the configuration memory
// and in file; the exit status.
int storeTilt(ConfigRequest& config, const TiltOptions& o, const TiltAverage& average, const std::string& file)
{
    const float tilt = meanDegrees(average.sumTilt, average.count);
    if (!o.quiet) {
        printf("%s\n", formatTilt(tilt).c_str());
        printf("TiltAvgX = %s\n", formatTilt(meanDegrees(average.sumX, average.count)).c_str());
        printf("TiltAvgY = %s\n", formatTilt(meanDegrees(average.sumY, average.count)).c_str());
        printf("TiltAvgZ = %s\n", formatTilt(meanDegrees(average.sumZ, average.count)).c_str());
    }
    Json::Value root;
    std::string errors;
    if (!ConfigClient::parseReply(ask(config, tiltStoreRequest(o.type == 'f' ? "fast" : "long", tilt), o.quiet),
                                  &root, &errors))
        return 3;
    FILE* out = fopen(file.c_str(), "w");
    bool written = out != nullptr && fprintf(out, "%s", formatTilt(tilt).c_str()) >= 0;
    if (out != nullptr && fclose(out) != 0)
        written = false;
    if (!written) {
        perror(file.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int runTiltAverage(const TiltOptions& o)
{
    try {
        zmq::context_t context(1, 1023);
        ConfigRequest config(context, "tcp://" + o.configHost + ":" + std::to_string(o.port), untilAnswered());
        double window = 0;
        std::string file;
        int feedPort = 0;
        int status = measurementOf(config, o, &window, &file, &feedPort);
        if (status >= 0)
            return status;
        TiltAverage average;
        status = averageFeed(context, o, feedPort, window, &average);
        if (status >= 0)
            return status;
        return storeTilt(config, o, average, file);
    } catch (const zmq::error_t& e) {
        printf("ZMQ error: %s\n", e.what());
        return 1;
    }
}
