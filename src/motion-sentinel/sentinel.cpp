#include "sentinel.h"

#include "configclient.h"
#include "publisherbind.h"
#include "statuswatcher.h"
#include "zhelpers.h"

#include <syslog.h>

#include <zmq.hpp>

#include <cstdio>
#include <cstdlib>

namespace {

// False, after a message naming the endpoint, when the feed cannot be bound.
bool publisher(zmq::context_t& context, const std::string& port, const char* label, zmq::socket_t* socket)
{
    *socket = zmq::socket_t(context, zmq::socket_type::pub);
    socket->set(zmq::sockopt::ipv6, 1);
    return bindFeed(*socket, "tcp://*:" + port, label, BindFailure::KeepGoing);
}

void logCritical(const std::string& warning)
{
    openlog("motion sentinel", LOG_NDELAY, LOG_DAEMON);
    syslog(LOG_CRIT, "%s", warning.c_str());
    closelog();
}

} // namespace

int runSentinel(const SentinelOptions& o)
{
    ConfigClient* config = new ConfigClient(o.confPort, o.noticePort, 0);
    const std::string sections[] = {"imu", "read-only", "motion-sentinel"};
    config->requestSections(sections, 3);
    const std::string statusPort = config->lookup("imu", "publishers", "status");
    const std::string alertPort = config->lookup("motion-sentinel", "publishers", "alert");
    const std::string actionPort = config->lookup("motion-sentinel", "publishers", "action");

    zmq::context_t context(1, 1023);
    zmq::socket_t status(context, zmq::socket_type::sub);
    status.set(zmq::sockopt::subscribe, "");
    zmq::socket_t alert, action;
    if (!connectSocket(status, "tcp://127.0.0.1:" + statusPort, "status subscriber") ||
        !publisher(context, alertPort, "alert", &alert) || !publisher(context, actionPort, "action", &action)) {
        delete config;
        return 1;
    }

    std::map<int, bitrule_st> rules;
    for (int i = 0; i < 32; i++) {
        const std::string bit = std::to_string(i);
        bitrule_st r;
        r.throttle = throttleOf(config->lookup("read-only", "motion-sentinel", "bits", bit, "throttle"));
        r.parameter = config->lookup("read-only", "motion-sentinel", "bits", bit, "parameter");
        r.action = config->lookup("read-only", "motion-sentinel", "bits", bit, "action");
        r.description = config->lookup("read-only", "motion-sentinel", "bits", bit, "description");
        rules[i] = r;
    }
    if (!o.quiet)
        for (const auto& r : rules)
            printf("Throttle[%d] : %d\n", r.first, r.second.throttle);

    StatusWatcher::Outputs outputs;
    outputs.print = [](const std::string& text) { puts(text.c_str()); };
    outputs.alert = [&alert](const std::string& text) { s_send(alert.handle(), text.c_str()); };
    outputs.action = [&action](const std::string& text) { s_send(action.handle(), text.c_str()); };
    outputs.syslog = logCritical;
    StatusWatcher watcher(rules, o.quiet, outputs);
    while (true) {
        char* message = s_recv(status.handle());
        watcher.handle(message);
        free(message);
    }
}
