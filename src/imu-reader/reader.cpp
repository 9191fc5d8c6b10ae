#include "reader.h"

#include "configclient.h"
#include "timer.h"
#include "publisherbind.h"
#include "wholefile.h"
#include "zhelpers.h"

#include <sys/time.h>

#include <zmq.hpp>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void formatFeeds(const ImuSample& s, uint64_t t, FeedTexts* out)
{
    const unsigned long long time = t;
    const double heave = s.heaveX100;
    const double a1 = s.attitude[0], a2 = s.attitude[1], a3 = s.attitude[2];
    const double value = s.statusValue;
    const unsigned word = s.statusWord;
    snprintf(out->heave, sizeof out->heave, "%llu,%g", time, heave);
    snprintf(out->attitude, sizeof out->attitude, "%llu,%g,%g,%g", time, a1, a2, a3);
    snprintf(out->status, sizeof out->status, "%llu,%g,%u", time, value, word);
    snprintf(out->imu, sizeof out->imu, "%llu,%g,%g,%g,%g,%g,%u", time, heave, a1, a2, a3, value, word);
}

bool isRebootAction(const char* text)
{
    return strstr(text, "reboot") != nullptr;
}

uint64_t nowMs()
{
    return static_cast<uint64_t>(wholeEpochMs(wallClock()));
}

std::string identityRecord(ImuLink& link)
{
    static const char* const queries[][2] = {
        {"Make:\t\t", "get,info,make\r\n"},       {"Model:\t\t", "get,info,model\r\n"},
        {"Type:\t\t", "get,info,type\r\n"},       {"SerialNo:\t", "get,info,serial no\r\n"},
        {"Firmware:\t", "get,info,firmware ver\r\n"}, {"Hardware:\t", "get,info,hardware ver\r\n"},
    };
    std::string record;
    for (const auto& q : queries)
        record += q[0] + link.queryInfo(q[1]);
    return record;
}

bool fileHasContent(const std::string& path, const std::string& text)
{
    std::string content;
    return readWholeFile(path, &content) && content == text;
}

bool writeIfChanged(const std::string& path, const std::string& text, bool verbose)
{
    if (fileHasContent(path, text)) {
        if (verbose)
            printf("File already contains the same data. No action required.\n");
        return true;
    }
    if (!writeWholeFile(path, text)) {
        fprintf(stderr, "File %s not updated: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    if (verbose)
        printf("File updated.\n");
    return true;
}

namespace {

// False, after a message naming the endpoint, when the feed cannot be bound.
bool feedPublisher(zmq::context_t& context, const std::string& port, const char* label, zmq::socket_t* socket)
{
    *socket = zmq::socket_t(context, zmq::socket_type::pub);
    socket->set(zmq::sockopt::ipv6, 1);
    // However the program ends, it does not wait for subscribers.
    socket->set(zmq::sockopt::linger, 0);
    return bindFeed(*socket, "tcp://*:" + port, label, BindFailure::KeepGoing);
}

// The service manager starts the program again, which opens the device afresh:
// an IMU plugged back in gets its set-up.
void reportLost(const ImuLink& link)
{
    fprintf(stderr, "IMU on %s is gone: %s\n", link.devicePath.c_str(), link.lostReason.c_str());
}

// Publishes each sample on the four feeds (imu, heave, attitude, status, in
// that order in feeds) and restarts the IMU on a reboot action, until the
// device is gone or a notice for the program comes.
void relaySamples(ImuLink& link, const ReaderOptions& o, int64_t timeshift, zmq::socket_t* feeds,
                  zmq::socket_t& actions, zmq::socket_t& notices)
{
    FeedTexts texts;
    while (!link.lost()) {
        ImuSample sample;
        if (!link.readSample(&sample)) {
            if (link.lost())
                break;
            if (link.startStream() != 0 && o.verbose)
                printf("Failed to start stream\n");
        } else {
            const uint64_t t = nowMs() * 1000 + static_cast<uint64_t>(timeshift);
            formatFeeds(sample, t, &texts);
            s_send(feeds[1].handle(), texts.heave);
            s_send(feeds[2].handle(), texts.attitude);
            s_send(feeds[3].handle(), texts.status);
            s_send(feeds[0].handle(), texts.imu);
            if (o.verbose)
                printf("%s\n", texts.imu);
            if (char* action = s_recv_nonblocking(actions.handle())) {
                if (isRebootAction(action))
                    link.restartImu();
                free(action);
            }
        }
        if (char* notice = s_recv_nonblocking(notices.handle())) {
            if (o.verbose) {
                printf("Subscriber received:%s\n", notice);
                printf("Ending program\n");
            }
            free(notice);
            break;
        }
    }
}

} // namespace

int runImuReader(const ReaderOptions& o)
{
    ConfigClient* config = new ConfigClient(o.confPort, o.noticePort, 0);
    ImuLink* link = new ImuLink(config, o.verbose, o.saveEnabled, o.waits);
    if (link->lost()) {
        reportLost(*link);
        delete link;
        delete config;
        return 1;
    }

    const std::string sections[] = {"imu", "motion-sentinel", "read-only"};
    config->requestSections(sections, 3);
    const std::string imuPort = config->lookup("imu", "publishers", "imu");
    const std::string heavePort = config->lookup("imu", "publishers", "heave");
    const std::string attitudePort = config->lookup("imu", "publishers", "attitude");
    const std::string statusPort = config->lookup("imu", "publishers", "status");
    const std::string actionPort = config->lookup("motion-sentinel", "publishers", "action");
    long shiftMs = strtol(config->lookup("read-only", "imu", "timeshift_ms").c_str(), nullptr, 10);
    const int64_t timeshift = static_cast<int64_t>(std::max<long>(INT_MIN / 1000, std::min<long>(INT_MAX / 1000, shiftMs))) * 1000;

    zmq::context_t context(1, 1023);
    zmq::socket_t feeds[4];
    zmq::socket_t actions(context, zmq::socket_type::sub);
    actions.set(zmq::sockopt::subscribe, "");
    if (!feedPublisher(context, imuPort, "imu", &feeds[0]) || !feedPublisher(context, heavePort, "heave", &feeds[1]) ||
        !feedPublisher(context, attitudePort, "attitude", &feeds[2]) ||
        !feedPublisher(context, statusPort, "status", &feeds[3]) ||
        !connectSocket(actions, "tcp://127.0.0.1:" + actionPort, "action subscriber")) {
        delete link;
        delete config;
        return 1;
    }
    zmq::socket_t notices(context, zmq::socket_type::sub);
    notices.connect("tcp://127.0.0.1:" + std::to_string(o.noticePort));
    notices.set(zmq::sockopt::subscribe, o.progname);

    // A device that went during the queries has not told its identity.
    const std::string identity = identityRecord(*link);
    if (!link->lost())
        writeIfChanged(o.identityPath, identity, o.verbose);
    if (!link->lost() && link->startStream() != 0)
        printf("Failed to start stream\n");

    relaySamples(*link, o, timeshift, feeds, actions, notices);
    const int status = link->lost() ? 1 : 0;
    if (status != 0)
        reportLost(*link);
    link->closeLink();
    delete config;
    delete link;
    for (auto& s : feeds) {
        s.set(zmq::sockopt::linger, 0);
        s.close();
    }
    actions.close();
    notices.close();
    context.close();
    return status;
}
