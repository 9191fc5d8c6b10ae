// heave-smoother's two processes: the supervisor, which forks the worker and ends
// on a change notice or when the worker ends, and the worker, which reads its
// settings, filters the input line stream and publishes the result.
#pragma once

#include <json/json.h>

#include <string>
#include <sys/types.h>

struct SmootherSettings {
    int fastport = 5051;              // 0: fastportText is not a port number
    std::string fastportText = "5051"; // as configured, named when it is none
    std::string filterFilename;
    std::string subscribe = "127.0.0.1:5080";
};

// The worker's keys in section `name` of a configuration reply, defaults where a
// key or its group is missing. 0, or 1 when the reply has no "success" object.
int readSmootherSettings(const Json::Value& reply, const std::string& name, SmootherSettings* out);

struct SmootherOptions {
    std::string address = "127.0.0.1:5010";  // configuration service, ip:port
    std::string name = "heave-smoother";     // own section and notice topic
    bool quiet = false;
    int inputTimeoutMs = 60000;              // the worker ends after this long without a line
    // Fixed whatever -c names: notices always come from the local service.
    std::string noticeEndpoint = "tcp://127.0.0.1:5011";
    int watchPeriodMs = 5000;
};

// The worker's status when its publisher cannot be bound, its input not
// connected or the configuration service's host does not exist.
constexpr int WORKER_CANNOT_OPEN = 4;

// The worker: its exit status (0 on stop, silence or an unparsable reply; 1 on a
// reply without "success", an unusable filter or a socket that cannot be made;
// WORKER_CANNOT_OPEN, after a message naming the endpoint).
int processStart(const SmootherOptions& options);

// Forks the worker and watches it: 0 on a notice or SIGTERM (the worker gets
// SIGTERM) or when it ends, 1 when it could not bind its publisher, connect
// its input or find the configuration service's host; 10 when the fork fails;
// 122 when it cannot be waited for. The worker also ends when the supervisor
// is killed.
int runSmoother(const SmootherOptions& options);

// One worker of a supervising program.
struct pidlist_st {
    pid_t pid;
    std::string name;
};
