#include "relaycore.h"

#include "childtree.h"
#include "cmdline.h"
#include "hostlookup.h"
#include "publisherbind.h"
#include "signalhandler.h"
#include "uniquefd.h"

#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>

namespace relay {

void trace(const std::string& line)
{
    fwrite(line.data(), 1, line.size(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

void printHelp(const char* argv0, int option, std::initializer_list<const char*> ownLines)
{
    fprintf(stderr, "%s will fetch zmq messages and presents them local.\n", argv0);
    fprintf(stderr, "Unknown option `-%c'.\n", option);
    fprintf(stderr, "  -c <ip>:<portnr>\t\t-> configurator portnumber; defaults to 127.0.0.1:5010\n");
    for (const char* line : ownLines)
        fprintf(stderr, line, argv0);
}

bool parseOptions(int argc, char** argv, const char* optstring, const char* refused,
                  std::initializer_list<const char*> help, Options* options)
{
    stop = 0;
    signal(SIGINT, signalHandler);
    optind = 0;
    int option;
    while ((option = getopt(argc, argv, optstring)) != -1) {
        if (strchr(refused, option) != nullptr)
            option = '?';
        switch (option) {
        case 'c':
            options->configuratorConnection = optarg;
            break;
        case 'd':
            options->configuratorConnection.clear();
            break;
        case 'q':
            options->quiet = true;
            break;
        case 'v': {
            // As std::stoi: a leading number, else 1.
            char* end = nullptr;
            long v = optarg != nullptr ? strtol(optarg, &end, 10) : 0;
            options->verbose = optarg != nullptr && end != optarg ? static_cast<int>(v) : 1;
            break;
        }
        case 's':
            options->subscriberURI = optarg;
            break;
        case 'p': {
            // Read as strtol reads it; a number that is no port would be bound
            // modulo 65536, and 0 would leave the port to the configuration.
            options->publisherPort = leadingPortNumber(optarg);
            if (options->publisherPort == 0) {
                reportNotAPort(option, optarg);
                return false;
            }
            break;
        }
        default:
            printHelp(argv[0], optopt, help);
            return false;
        }
    }
    return true;
}

std::string requestText(const std::string& own, bool withVintorDir)
{
    return "{\"get\":{\"configurator\":\"\",\"general\":\"\",\"" + own +
           (withVintorDir ? "\":\"\",\"vintor-dir\":\"\"}}" : "\":\"\"}}");
}

std::string hostOf(const std::string& connection)
{
    size_t colon = connection.rfind(':');
    return colon == std::string::npos ? connection : connection.substr(0, colon);
}

int portOf(const std::string& text)
{
    int port = 0;
    return parsePortNumber(text.c_str(), &port) ? port : 0;
}

void skipFeed(const std::string& name, const std::string& what, const std::string& text)
{
    trace("Feed " + name + ": " + what + " \"" + text + "\": " + NOT_A_PORT + "; feed skipped");
}

const Json::Value* node(const Json::Value& root, const std::vector<std::string>& path)
{
    const Json::Value* at = &root;
    for (const std::string& name : path) {
        if (!at->isObject())
            return nullptr;
        at = at->find(name.data(), name.data() + name.size());
        if (at == nullptr)
            return nullptr;
    }
    return at;
}

bool isObject(const Json::Value& root, const std::vector<std::string>& path)
{
    const Json::Value* at = node(root, path);
    return at != nullptr && at->isObject();
}

std::string text(const Json::Value& root, const std::vector<std::string>& path, const std::string& def)
{
    const Json::Value* at = node(root, path);
    if (at == nullptr || at->isNull() || at->isObject() || at->isArray())
        return def;
    return at->asString();
}

bool configurationFound(const Json::Value& reply)
{
    if (isObject(reply, {"success"}))
        return true;
    puts("Configuration not found");
    return false;
}

namespace {

ConfigRequest::Options requestOptions()
{
    ConfigRequest::Options o; // no time-out: a silent service holds the program
    o.ipv6 = true;
    o.textReply = true;
    return o;
}

} // namespace

ConfigSession::ConfigSession(const std::string& connection, bool traces)
    : context(1, 1023), requests(new ConfigRequest(context, "tcp://" + connection, requestOptions())), traces(traces)
{
    if (traces)
        trace("ZMQ Connecting: tcp://" + connection);
    // A service: a name that cannot be looked up yet is waited for, as a
    // silent service is; one that does not exist is a set-up failure.
    if (!hostResolves("tcp://" + connection, "configuration service", true, HostWait::UntilFound))
        exit(1);
}

bool ConfigSession::ask(const std::string& request, Json::Value* reply, std::string* errors)
{
    if (traces)
        trace("Sending request " + request + "..");
    std::string answer;
    if (!requests) {
        fprintf(stderr, "Configuration request failed: closed\n");
        exit(3);
    }
    if (requests->exchange(request, &answer) != ConfigRequest::Ok) {
        fprintf(stderr, "Configuration request failed: %s: %s\n", requests->endpoint().c_str(), requests->reason());
        exit(3);
    }
    if (traces)
        trace("Received: " + answer);
    std::string why;
    bool parsed = parseReply(answer, reply, &why);
    if (!parsed && errors != nullptr)
        *errors = why;
    return parsed;
}

void ConfigSession::close()
{
    requests.reset();
    context.close();
}

bool openPublisher(zmq::context_t& context, const std::string& endpoint, zmq::socket_t* publisher)
{
    zmq::socket_t s(context, zmq::socket_type::pub);
    s.set(zmq::sockopt::ipv6, 1);
    s.set(zmq::sockopt::linger, 0);
    if (!bindFeed(s, endpoint, program_invocation_short_name, BindFailure::KeepGoing))
        return false;
    *publisher = std::move(s);
    return true;
}

bool openSubscriber(zmq::context_t& context, const std::string& endpoint, int timeoutMs, zmq::socket_t* subscriber)
{
    zmq::socket_t s(context, zmq::socket_type::sub);
    s.set(zmq::sockopt::ipv6, 1);
    s.set(zmq::sockopt::linger, 0);
    s.set(zmq::sockopt::rcvtimeo, timeoutMs);
    if (!connectSocket(s, endpoint, std::string(program_invocation_short_name) + " subscriber"))
        return false;
    s.set(zmq::sockopt::subscribe, "");
    *subscriber = std::move(s);
    return true;
}

Received relayMessage(zmq::socket_t& in, zmq::socket_t& out, bool print)
{
    // The message itself is passed on: no copy, and no size limit.
    bool more = true;
    bool first = true;
    while (more) {
        zmq_msg_t message;
        zmq_msg_init(&message);
        if (zmq_msg_recv(&message, in.handle(), 0) < 0) {
            int error = errno;
            zmq_msg_close(&message);
            if (stop)
                return Received::Stopped;
            if (error == EINTR)
                continue;
            // A later part never fails alone: parts arrive together.
            return first ? Received::Failed : Received::Message;
        }
        first = false;
        more = zmq_msg_more(&message) != 0;
        if (print) {
            const char* data = static_cast<const char*>(zmq_msg_data(&message));
            size_t size = zmq_msg_size(&message);
            fwrite(data, 1, size > 0 ? strnlen(data, size) : 0, stdout);
            fputc('\n', stdout);
            fflush(stdout);
        }
        if (zmq_msg_send(&message, out.handle(), more ? ZMQ_SNDMORE : 0) < 0)
            zmq_msg_close(&message);
    }
    return Received::Message;
}

void FeedWorker::printStopped() const
{
    printf("\nStopped %s pid:%d publisher:%s  subscriber: %s\n", name.c_str(), pid, publisherURL.c_str(),
           subscriberURL.c_str());
    fflush(stdout);
}

int fork_process(Worker* worker, bool exitWithResult)
{
    fflush(stdout);
    fflush(stderr);
    // A worker never outlives its supervisor, however that ends.
    pid_t pid = childtree::forkTied();
    if (pid < 0) {
        puts("ERROR on fork");
        fflush(stdout);
        worker->pid = -1;
        return 10;
    }
    if (pid > 0) {
        worker->pid = pid;
        return 0;
    }
    // SIGTERM ends a worker at once; a SIGINT that its supervisor outlived is
    // not the new worker's.
    signal(SIGTERM, SIG_DFL);
    stop = 0;
    int result = 0;
    try {
        worker->printStart();
        fflush(stdout);
        result = worker->processStart();
    } catch (const std::exception& e) {
        fprintf(stderr, "Worker %s failed: %s\n", worker->name.c_str(), e.what());
        result = 1;
        exitWithResult = true;
    }
    fflush(stdout);
    fflush(stderr);
    // _exit: the parent's sockets and contexts, copied by fork, are not ours to close.
    _exit(exitWithResult ? result : 0);
}

namespace {

Supervisor* active = nullptr;
pid_t activeOwner = 0;
volatile sig_atomic_t terminated = 0;

void onTerm(int)
{
    terminated = 1;
}

void endWorkersAtExit()
{
    if (active != nullptr && getpid() == activeOwner)
        active->endAll();
}

void sleepMs(int ms)
{
    // SIGINT cuts the sleep short, so the loop sees stop at once.
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

// Waits up to ms for the notice watcher's pipe; SIGINT cuts the wait short. The
// watcher writes the notice and ends: true with the notice in *notice, or with
// an empty one when the watcher ended without a notice (its receive failed).
bool noticeWithin(int fd, int ms, std::string* notice)
{
    if (fd < 0) {
        sleepMs(ms);
        return false;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return false;
    notice->clear();
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        notice->append(buffer, static_cast<size_t>(n));
    }
    return true;
}

} // namespace

Supervisor::Supervisor(std::vector<std::unique_ptr<Worker>> workers, const Timing& timing, bool traces, bool restart)
    : timing(timing), traces(traces), restart(restart)
{
    for (auto& w : workers)
        pid_list.push_back(std::move(w));
    static bool registered = false;
    if (!registered) {
        atexit(endWorkersAtExit);
        registered = true;
    }
    active = this;
    activeOwner = getpid();
}

Supervisor::~Supervisor()
{
    endAll();
    if (active == this)
        active = nullptr;
}

void Supervisor::endAll()
{
    for (auto& w : pid_list)
        if (w->pid > 0)
            kill(w->pid, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (auto& w : pid_list) {
        if (w->pid <= 0)
            continue;
        int status = 0;
        while (waitpid(w->pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(w->pid, SIGKILL);
                waitpid(w->pid, &status, 0);
                break;
            }
            sleepMs(10);
        }
        w->pid = -1;
    }
}

int Supervisor::run(int noticeFd)
{
    // No SA_RESTART: SIGTERM cuts the cycle's wait short.
    struct sigaction sa = {};
    sa.sa_handler = onTerm;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    for (auto& w : pid_list)
        fork_process(w.get(), !restart);
    int lastStatus = 0;
    while (!pid_list.empty()) {
        // A restarting supervisor outlives a SIGINT: its workers end their loops
        // and are started again, one per cycle.
        if (terminated || (stop && !restart)) {
            endAll();
            return 0;
        }
        for (auto it = pid_list.begin(); it != pid_list.end();) {
            Worker& w = **it;
            if (w.pid < 0) {
                // Its fork failed: tried again now, one per cycle as any restart.
                if (restart) {
                    fork_process(&w);
                    break;
                }
                lastStatus = 10;
                it = pid_list.erase(it);
                continue;
            }
            int status = 0;
            pid_t r = waitpid(w.pid, &status, WNOHANG);
            if (r == 0) {
                ++it;
                continue;
            }
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                exit(122);
            }
            if (traces)
                w.printStopped();
            if (restart) {
                fork_process(&w);
                break;
            }
            lastStatus = WIFEXITED(status) ? WEXITSTATUS(status) : (stop ? 0 : 1);
            w.pid = -1;
            it = pid_list.erase(it);
        }
        std::string notice;
        if (!pid_list.empty() && noticeWithin(noticeFd, timing.cycleMs, &notice)) {
            endAll();
            if (notice.empty())
                exit(3); // the alert receive failed
            if (traces)
                trace("Configurator received:" + notice);
            return 0;
        }
    }
    return lastStatus;
}

namespace {

// The alert channel in a process of its own: the service's notice publisher
// (its host from the connection, its port from configurator.publishers.alert,
// 5011 when none), subscribed to each topic. It writes "ready" once connected,
// then the first notice, and ends; it ends at once when it cannot connect and
// when its supervisor dies. The read end of its pipe, or -1.
int startNoticeWatcher(const std::string& connection, const Json::Value& reply,
                       std::initializer_list<std::string> topics, pid_t* watcher)
{
    std::string port = text(reply, {"success", "configurator", "publishers", "alert"});
    if (port.empty())
        port = "5011";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    fflush(stdout);
    fflush(stderr);
    *watcher = childtree::forkTied();
    if (*watcher < 0)
        return -1;
    if (*watcher > 0) {
        writeEnd.reset();
        char ready[5];
        size_t got = 0;
        while (got < sizeof ready) {
            ssize_t n = read(readEnd.get(), ready + got, sizeof ready - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        if (got == sizeof ready)
            return readEnd.release();
        readEnd.reset();
        waitpid(*watcher, nullptr, 0);
        *watcher = -1;
        return -1;
    }
    // SIGINT is the supervisor's to handle; it ends the watcher when it ends.
    signal(SIGINT, SIG_IGN);
    signal(SIGTERM, SIG_DFL);
    // Named apart from the supervisor and its workers, which users count.
    prctl(PR_SET_NAME, "relay-alerts");
    readEnd.reset();
    int code = 3;
    try {
        zmq::context_t context(1);
        zmq::socket_t alerts(context, zmq::socket_type::sub);
        alerts.set(zmq::sockopt::ipv6, 1);
        alerts.set(zmq::sockopt::linger, 0);
        const bool connected = connectSocket(alerts, "tcp://" + hostOf(connection) + ":" + port, "Alert channel");
        for (const std::string& topic : topics)
            alerts.set(zmq::sockopt::subscribe, topic);
        if (connected && write(writeEnd.get(), "ready", 5) == 5) {
            zmq::message_t notice;
            while (true) {
                if (zmq_msg_recv(notice.handle(), alerts.handle(), 0) >= 0) {
                    std::string text(static_cast<const char*>(notice.data()), notice.size());
                    if (text.empty())
                        text = " "; // an empty notice still ends the supervisor
                    code = write(writeEnd.get(), text.data(), text.size()) < 0 ? 3 : 0;
                    break;
                }
                if (errno != EINTR)
                    break;
            }
        }
    } catch (const std::exception& e) {
        fprintf(stderr, "Alert channel failed: %s\n", e.what());
    }
    _exit(code);
}

} // namespace

int superviseWithAlerts(ConfigSession& session, const std::string& connection, const Json::Value& reply,
                        std::initializer_list<std::string> topics, std::vector<std::unique_ptr<Worker>> workers,
                        const Timing& timing, bool traces)
{
    // Workers are forked only from a process without threads: a lock that a
    // thread of the 0MQ context held at the fork (of the allocator, say) would
    // stay held in the worker for ever. So the session ends first, and the
    // alert channel, with its own context, lives in a process of its own.
    session.close();
    pid_t watcher = -1;
    // Connected before any worker starts, so a bad port cannot strand one.
    const int notices = startNoticeWatcher(connection, reply, topics, &watcher);
    if (notices < 0)
        return 3;
    int result;
    {
        Supervisor supervisor(std::move(workers), timing, traces, true);
        result = supervisor.run(notices);
    }
    close(notices);
    kill(watcher, SIGTERM);
    waitpid(watcher, nullptr, 0);
    return result;
}

} // namespace relay
