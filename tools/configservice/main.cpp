// Stand-in for the unit's configuration service: answers JSON requests on a
// request port and announces changed sections on a notice port.
#include "configstore.h"

#include <zmq.hpp>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "numbers.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void onStop(int)
{
    stopRequested = 1;
}

void usage(const char* name)
{
    fprintf(stderr,
            "Use: %s [-c config.json] [-m memory.json] [-r repport] [-p pubport] [-l requestlog]\n"
            "        [--reply nonjson|nosuccess|silent|deep] [--null-section NAME] [--delay VERB:MS]\n"
            " -r request port, default 5010; -p notice port, default 5011\n"
            " -l appends every request to a file as \"<byte count> <bytes>\\n\"\n"
            " --delay answers requests of that verb MS milliseconds late\n"
            " --reply deep answers JSON nested 5000 levels, for clients that must survive it\n",
            name);
}

// Appends one request to the log so tests can compare exact bytes.
void logRequest(int fd, const std::string& request)
{
    if (fd < 0)
        return;
    std::string entry = std::to_string(request.size()) + " " + request + "\n";
    const char* p = entry.data();
    size_t left = entry.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// The verb of a request, or "" when it is none.
std::string verbOf(const std::string& request)
{
    Json::Value root;
    std::string why;
    if (!parseJson(request.substr(0, request.find('\0')), &root, &why) || !root.isObject() || root.size() != 1)
        return "";
    return root.getMemberNames().front();
}

struct Options {
    std::string configPath, memoryPath, logPath, replyMode, nullSection, delayedVerb;
    int repPort = 5010, pubPort = 5011;
    long delayMs = 0;
};

// Reads the command line into *o; the exit status when it is not usable, else -1.
int parseOptions(int argc, char** argv, Options* o)
{
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (!hasValue) {
            usage(argv[0]);
            return 1;
        }
        const char* v = argv[++i];
        if (a == "-c") {
            o->configPath = v;
        } else if (a == "-m") {
            o->memoryPath = v;
        } else if (a == "-l") {
            o->logPath = v;
        } else if (a == "-r" || a == "-p") {
            if (!parsePortNumber(v, a == "-r" ? &o->repPort : &o->pubPort)) {
                fprintf(stderr, "configservice: bad port %s\n", v);
                return 1;
            }
        } else if (a == "--reply") {
            o->replyMode = v;
            const std::string& m = o->replyMode;
            if (m != "nonjson" && m != "nosuccess" && m != "silent" && m != "deep") {
                fprintf(stderr, "configservice: --reply %s: the values are nonjson, nosuccess, silent and deep\n", v);
                return 1;
            }
        } else if (a == "--null-section") {
            o->nullSection = v;
        } else if (a == "--delay") {
            const char* colon = strrchr(v, ':');
            if (colon == nullptr || colon == v || !parseWholeNumber(colon + 1, 0, LONG_MAX, &o->delayMs)) {
                usage(argv[0]);
                return 1;
            }
            o->delayedVerb.assign(v, colon);
        } else {
            usage(argv[0]);
            return 1;
        }
    }
    return -1;
}

// One request from the router: the peer's envelope and the request's bytes.
// False when the frames held no envelope delimiter.
bool receiveRequest(zmq::socket_t& requests, std::vector<zmq::message_t>* envelope, std::string* request)
{
    // Envelope: peer identity frames, an empty delimiter, then the request.
    bool delimiterSeen = false;
    while (true) {
        zmq::message_t frame;
        if (!requests.recv(frame, zmq::recv_flags::none))
            break;
        bool more = frame.more();
        if (!delimiterSeen) {
            delimiterSeen = frame.size() == 0;
            envelope->push_back(std::move(frame));
        } else {
            // A multi-frame request is taken as the frames joined.
            request->append(static_cast<const char*>(frame.data()), frame.size());
        }
        if (!more)
            break;
    }
    return delimiterSeen;
}

// The reply the chosen mode sends instead of the store's answer.
std::string replyOf(const std::string& mode, const std::string& answer)
{
    if (mode == "nonjson")
        return "this reply is not JSON";
    if (mode == "nosuccess")
        return "{}";
    if (mode == "deep")
        return "{\"success\":" + std::string(5000, '[') + std::string(5000, ']') + "}";
    return answer;
}

// Waits ms milliseconds; false when a stop signal came first. In short steps:
// a signal between a test of the flag and a sleep must not cost the whole wait.
bool delayUnlessStopped(long ms)
{
    const auto start = std::chrono::steady_clock::now();
    while (!stopRequested) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        if (elapsed >= ms)
            return true;
        const long step = std::min(ms - static_cast<long>(elapsed), 100L);
        timespec t{0, step * 1000000L};
        nanosleep(&t, nullptr);
    }
    return false;
}

// Answers requests until a stop signal; throws the messaging library's errors.
void serve(ConfigStore& store, const Options& o, int logFd)
{
    zmq::context_t context(1);
    // A router behaves as a reply socket to every requester and, unlike one,
    // can stay silent on purpose and still take the next request.
    zmq::socket_t requests(context, zmq::socket_type::router);
    zmq::socket_t notices(context, zmq::socket_type::pub);
    for (zmq::socket_t* s : {&requests, &notices}) {
        s->set(zmq::sockopt::ipv6, 1);
        s->set(zmq::sockopt::linger, 0);
    }
    requests.bind("tcp://*:" + std::to_string(o.repPort));
    notices.bind("tcp://*:" + std::to_string(o.pubPort));
    printf("configservice ready\n");
    fflush(stdout);

    while (!stopRequested) {
        zmq::pollitem_t item{static_cast<void*>(requests), 0, ZMQ_POLLIN, 0};
        int n = zmq::poll(&item, 1, std::chrono::milliseconds(200));
        if (n <= 0 || !(item.revents & ZMQ_POLLIN))
            continue;
        std::vector<zmq::message_t> envelope;
        std::string request;
        if (!receiveRequest(requests, &envelope, &request))
            continue;
        logRequest(logFd, request);
        ConfigStore::Answer answer = store.handle(request);
        if (o.replyMode == "silent")
            continue;
        if (o.delayMs > 0 && verbOf(request) == o.delayedVerb && !delayUnlessStopped(o.delayMs))
            break;
        const std::string reply = replyOf(o.replyMode, answer.reply);
        for (auto& part : envelope)
            requests.send(part, zmq::send_flags::sndmore);
        requests.send(zmq::buffer(reply), zmq::send_flags::none);
        for (const auto& name : answer.notices)
            notices.send(zmq::buffer(name), zmq::send_flags::none);
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    const int bad = parseOptions(argc, argv, &o);
    if (bad >= 0)
        return bad;

    ConfigStore store(o.configPath, o.nullSection);
    std::string why;
    if (!store.loadConfig(&why) || !store.loadMemory(o.memoryPath, &why)) {
        fprintf(stderr, "configservice: %s\n", why.c_str());
        return 2;
    }
    int logFd = -1;
    if (!o.logPath.empty()) {
        logFd = open(o.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (logFd < 0) {
            perror(o.logPath.c_str());
            return 2;
        }
    }

    struct sigaction sa = {};
    sa.sa_handler = onStop;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        serve(store, o, logFd);
    } catch (const zmq::error_t& e) {
        if (!stopRequested) {
            fprintf(stderr, "configservice: %s\n", e.what());
            return 3;
        }
    }
    if (logFd >= 0)
        close(logFd);
    return 0;
}
