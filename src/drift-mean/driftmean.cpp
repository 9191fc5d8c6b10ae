#include "driftmean.h"

#include "minutemeans.h"
#include "signalhandler.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

using relay::text;
using relay::trace;

namespace {

struct DriftWorker : relay::Worker {
    Json::Value config;
    std::string own;
    bool quiet = false;
    relay::Timing timing;

    void printStopped() const override
    {
        printf("\nStopped %s pid:%d ", name.c_str(), pid);
        fflush(stdout);
    }
    int processStart() override { return ::processStart(config, own, quiet, timing); }
};

} // namespace

int processStart(const Json::Value& config, const std::string& own, bool quiet, const relay::Timing& timing)
{
    if (!quiet)
        trace(config.toStyledString());
    std::string subscriberURI = text(config, {"success", own, "subscriberURI"});
    std::string endpoint = "tcp://*:" + text(config, {"success", own, "publishers", "Vdup"}, "5040");
    zmq::context_t context(1, 1023);
    zmq::socket_t subscriber;
    if (!relay::openSubscriber(context, subscriberURI, timing.receiveTimeoutMs, &subscriber))
        return 1;
    if (!quiet) {
        trace("ZMQ Connecting subscriber: " + subscriberURI);
        printf("Starting publisher: %s\n", endpoint.c_str());
        fflush(stdout);
    }
    zmq::socket_t publisher;
    if (!relay::openPublisher(context, endpoint, &publisher))
        return 1;

    MinuteMeans means;
    LineReading seen;
    MinutePublication minute;
    char data[8092];
    while (!stop) {
        int size = zmq_recv(subscriber.handle(), data, sizeof data, 0);
        if (size < 0) {
            if (stop)
                break;
            if (errno == EINTR)
                continue;
            return 3;
        }
        bool closed = means.take(data, std::min<size_t>(static_cast<size_t>(size), sizeof data), &seen, &minute);
        if (!quiet && seen.hasTime)
            trace(std::string(seen.line) + " " + std::string(seen.timeText));
        if (!quiet && seen.valueCut)
            trace("Value(str) " + std::string(seen.valueText));
        if (!closed)
            continue;
        if (!quiet) {
            char sums[200];
            snprintf(sums, sizeof sums, "time %lld =>  avg1=%g/%d avg10=%g/%d avg5=%g/%d",
                     static_cast<long long>(minute.boundary), minute.sum[0], minute.count[0], minute.sum[1],
                     minute.count[1], minute.sum[2], minute.count[2]);
            trace(sums);
        }
        for (const std::string& line : minute.lines) {
            publisher.send(zmq::buffer(line), zmq::send_flags::dontwait);
            if (!quiet) {
                fwrite(line.data(), 1, line.size(), stdout);
                fflush(stdout);
            }
        }
    }
    return 0;
}

int runDriftMean(int argc, char** argv, const std::string& own, const relay::Timing& timing)
{
    // -p is refused: the publisher port comes from the configuration only.
    relay::Options o;
    if (!relay::parseOptions(argc, argv, "hdc:p:q", "hp",
                             {"  -p <portnr>\t\t\t-> publisher PORT overrules configurator ; defaults to 5051\n",
                              "  -h\t\t\t\t-> This help page\n", "  -q\t\t\t\t-> quiet\n\n", "Example Use:\t%s\n",
                              "\t\t%s -c 127.0.0.1:5010 -p 5051\n", "\t\t%s -c 127.0.0.1:5010 -p 5051 -q\n", "\n"},
                             &o))
        return 1;
    const bool quiet = o.quiet;
    const std::string& configuratorConnection = o.configuratorConnection;
    if (configuratorConnection.empty()) {
        puts("No configuration connection available");
        return 1;
    }
    trace("tcp://" + configuratorConnection);

    relay::ConfigSession session(configuratorConnection, !quiet);
    auto worker = std::make_unique<DriftWorker>();
    if (!session.ask(relay::requestText(own, false), &worker->config))
        return 29;
    worker->name = "process";
    worker->own = own;
    worker->quiet = quiet;
    worker->timing = timing;
    std::vector<std::unique_ptr<relay::Worker>> workers;
    workers.push_back(std::move(worker));
    // Forked only once the session's threads have ended: a lock one of them held
    // at the fork would stay held in the worker for ever.
    session.close();
    relay::Supervisor supervisor(std::move(workers), timing, !quiet, false);
    return supervisor.run(-1);
}
