#include "service.h"

#include "childtree.h"
#include "configclient.h"
#include "configrequest.h"
#include "hostlookup.h"
#include "numbers.h"
#include "publisherbind.h"
#include "signalhandler.h"
#include "smoother.h"
#include "timer.h"
#include "zhelpers.h"

#include <zmq.hpp>

#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool quietOutput = false;

void diagnostic(const char* format, ...)
{
    if (quietOutput)
        return;
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
}

class PublisherSink : public LineSink {
public:
    explicit PublisherSink(zmq::socket_t& socket) : socket(socket) {}
    void publish(const char* line, size_t length) override
    {
        // A publisher never blocks; a line it cannot take is lost, as for a slow subscriber.
        zmq_send(socket.handle(), line, length, 0);
    }

private:
    zmq::socket_t& socket;
};

const Json::Value* member(const Json::Value* node, const char* name)
{
    if (node == nullptr || !node->isObject())
        return nullptr;
    return node->find(name, name + strlen(name));
}

std::string requestSettings(zmq::context_t& context, const SmootherOptions& o)
{
    std::string endpoint = "tcp://" + o.address;
    diagnostic("ZMQ Connecting: %s\n", endpoint.c_str());
    fflush(stdout);
    // A host that does not exist ends the program as an input that cannot be
    // connected does; one that cannot be looked up yet is waited for.
    if (!hostResolves(endpoint, "configuration service", true, HostWait::UntilFound))
        exit(WORKER_CANNOT_OPEN);
    ConfigRequest::Options options;
    options.ipv6 = true;
    options.textReply = true;
    ConfigRequest request(context, endpoint, options);
    std::string text = "{\"get\":{\"configurator\":\"\",\"general\":\"\",\"" + o.name + "\":\"\",\"IMU\":\"\"}}";
    diagnostic("Sending request %s..\n", text.c_str());
    // A bad address ends the worker with 1, a failed exchange with 3, each
    // after a line naming the endpoint.
    std::string reply;
    if (!exchangeOrEnd(request, text, &reply, OnFailure::NameEndpoint)) exit(3);
    diagnostic("Received: %s\n", reply.c_str());
    return reply;
}

} // namespace

int readSmootherSettings(const Json::Value& reply, const std::string& name, SmootherSettings* out)
{
    const Json::Value* success = member(&reply, "success");
    if (success == nullptr || !success->isObject())
        return 1;
    const Json::Value* own = member(success, name.c_str());
    const Json::Value* port = member(member(own, "publishers"), "fastport");
    if (port != nullptr && (port->isString() || port->isNumeric())) {
        out->fastportText = port->asString();
        if (!parsePortNumber(out->fastportText.c_str(), &out->fastport))
            out->fastport = 0;
    }
    const Json::Value* file = member(own, "filterFilename");
    if (file != nullptr && file->isString())
        out->filterFilename = file->asString();
    const Json::Value* input = member(own, "subscribe");
    if (input != nullptr && input->isString())
        out->subscribe = input->asString();
    return 0;
}

int processStart(const SmootherOptions& o)
{
    quietOutput = o.quiet;
    try {
        zmq::context_t context(1, 1023);
        std::string text = requestSettings(context, o);
        Json::Value reply;
        std::string errors;
        if (!ConfigClient::parseReply(text, &reply, &errors)) {
            printf("Failed to parse JSON\r\n%s\n", errors.c_str());
            return 0;
        }
        SmootherSettings settings;
        if (readSmootherSettings(reply, o.name, &settings) != 0) {
            printf("Configuration not found\n");
            return 1;
        }

        zmq::socket_t output(context, zmq::socket_type::pub);
        output.set(zmq::sockopt::ipv6, 1);
        output.set(zmq::sockopt::linger, 1000);
        std::string endpoint = feedAddress(settings.fastportText);
        std::string reason;
        if (!tryBind(output, endpoint, &reason)) {
            fprintf(stderr, "Cannot bind publisher %s: %s\n", endpoint.c_str(), reason.c_str());
            return WORKER_CANNOT_OPEN;
        }
        diagnostic("Starting publisher: %s\n", endpoint.c_str());
        zmq::socket_t input(context, zmq::socket_type::sub);
        input.set(zmq::sockopt::ipv6, 1);
        input.set(zmq::sockopt::rcvtimeo, o.inputTimeoutMs);
        endpoint = "tcp://" + settings.subscribe;
        if (!connectSocket(input, endpoint, "heave-smoother subscriber"))
            return WORKER_CANNOT_OPEN;
        input.set(zmq::sockopt::subscribe, "");
        diagnostic("ZMQ Connecting vintordir: %s\n", endpoint.c_str());

        // A filter that did not load would publish zeros as filtered heave.
        FirFilter filter(settings.filterFilename.c_str());
        if (filter.getError() != 0 || filter.tapCount() < 1) {
            printf("Filter %s cannot be used (error %d): not smoothing\n", settings.filterFilename.c_str(),
                   filter.getError());
            return 1;
        }
        PublisherSink sink(output);
        HeaveSmoother smoother(filter, sink, o.quiet);
        char line[FILTER_LINE_MAX + 1];
        while (!stop) {
            int n = zmq_recv(input.handle(), line, FILTER_LINE_MAX, 0);
            if (n < 0)
                break;
            line[static_cast<size_t>(n) < FILTER_LINE_MAX ? n : FILTER_LINE_MAX] = '\0';
            smoother.processLine(line);
        }
        return 0;
    } catch (const zmq::error_t& e) {
        printf("ZMQ error: %s\n", e.what());
        return 1;
    }
}

namespace {

volatile sig_atomic_t workerPid = 0;

// A stop by the service manager ends the worker with the program, as a change
// notice does, and the program with 0; the worker is waited for, so that a
// program started right after finds its port free.
void endOnTerm(int)
{
    if (workerPid > 0) {
        kill(static_cast<pid_t>(workerPid), SIGTERM);
        while (waitpid(static_cast<pid_t>(workerPid), nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    _exit(0);
}

} // namespace

int runSmoother(const SmootherOptions& o)
{
    quietOutput = o.quiet;
    stop = 0;
    signal(SIGINT, signalHandler);
    fflush(stdout);
    // The worker ends with its supervisor however that ends (SIGKILL, a crash).
    pid_t pid = childtree::forkTied();
    if (pid < 0) {
        printf("ERROR on fork\n");
        return 10;
    }
    if (pid == 0)
        exit(processStart(o));
    workerPid = pid;
    signal(SIGTERM, endOnTerm);

    std::vector<pidlist_st> workers = {{pid, "process"}};
    zmq::context_t context(1, 1023);
    zmq::socket_t notices(context, zmq::socket_type::sub);
    notices.connect(o.noticeEndpoint);
    notices.set(zmq::sockopt::subscribe, o.name);
    while (!workers.empty()) {
        char* notice = s_recv_nonblocking(notices.handle());
        if (notice != nullptr) {
            diagnostic("Configurator received:%s\n", notice);
            free(notice);
            // Waited for, so that a program started right after finds the port free.
            for (const pidlist_st& w : workers)
                kill(w.pid, SIGTERM);
            for (const pidlist_st& w : workers)
                while (waitpid(w.pid, nullptr, 0) < 0 && errno == EINTR) {
                }
            return 0;
        }
        for (auto it = workers.begin(); it != workers.end(); ++it) {
            int status = 0;
            pid_t ended = waitpid(it->pid, &status, WNOHANG);
            if (ended < 0)
                return 122;
            if (ended == it->pid) {
                diagnostic("\nStopped %s pid:%d ", it->name.c_str(), static_cast<int>(it->pid));
                workers.erase(it);
                workerPid = 0;
                // Without its feeds the program cannot do its job: a restart by
                // the service manager may find the port free.
                return WIFEXITED(status) && WEXITSTATUS(status) == WORKER_CANNOT_OPEN ? 1 : 0;
            }
        }
        uSleep(static_cast<int64_t>(o.watchPeriodMs) * 1000);
    }
    return 0;
}
