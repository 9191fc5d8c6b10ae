// The common frame of the feed relays and averagers: help texts, the one
// configuration request and value lookup in its reply, the socket conventions,
// whole-message relaying, and worker processes with their supervisor.
#pragma once

#include "configrequest.h"

#include <json/json.h>
#include <zmq.hpp>

#include <initializer_list>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace relay {

// Waits of the services, the system's values by default; tests shorten them.
struct Timing {
    int receiveTimeoutMs = 60000; // silence on an input before a worker gives up
    int cycleMs = 5000;           // supervisor cycle
};

// Writes a trace line (text and a line feed) on standard output at once.
void trace(const std::string& line);

// Help on standard error: the three lines every relay service shares, then the
// program's own lines; a line's "%s" is argv0.
void printHelp(const char* argv0, int option, std::initializer_list<const char*> ownLines);

// What the command lines of the relay services set.
struct Options {
    std::string configuratorConnection = "127.0.0.1:5010"; // -c; -d empties it
    bool quiet = false;                                      // -q
    int verbose = 0;                                         // -v[level]: a missing or non-numeric level is 1
    std::string subscriberURI;                               // -s
    int publisherPort = 0;                                   // -p
};

// Installs signalHandler for SIGINT, then reads the options of optstring.
// false, after the help, for -h, an unknown option or one of refused.
bool parseOptions(int argc, char** argv, const char* optstring, const char* refused,
                  std::initializer_list<const char*> help, Options* options);

// {"get":{"configurator":"","general":"","<own>":""[,"vintor-dir":""]}}
std::string requestText(const std::string& own, bool withVintorDir);

// The host part of "host:port" (the text before the last ':').
std::string hostOf(const std::string& connection);

// A configured port: its digits' number, 0 when the text is not a port number
// (digits only, 1..65535).
int portOf(const std::string& text);

// A feed left out at set-up because one of its ports is none: traces
// "Feed <name>: <what> "<text>": not a port number (1-65535); feed skipped".
void skipFeed(const std::string& name, const std::string& what, const std::string& text);

// The node at a path of member names below root; null when a level is missing
// or is not an object (jsoncpp throws when a non-object is indexed by name).
const Json::Value* node(const Json::Value& root, const std::vector<std::string>& path);
bool isObject(const Json::Value& root, const std::vector<std::string>& path);
// The text of the value at the path; def when it is missing, null, or has no
// text (an object or an array).
std::string text(const Json::Value& root, const std::vector<std::string>& path, const std::string& def = "");

// True when the reply holds a "success" object; else prints "Configuration not
// found".
bool configurationFound(const Json::Value& reply);

// The REQ socket to the configuration service, open for the program's life.
class ConfigSession {
public:
    // Connects to "tcp://" + connection; traces "ZMQ Connecting: " + endpoint.
    // A host that does not resolve is said; one that cannot be looked up yet
    // is looked up again until it resolves, one that does not exist ends the
    // program with 1.
    ConfigSession(const std::string& connection, bool traces);
    // Sends the request and parses its reply into *reply. false when the reply is
    // not JSON, the parser's messages then in *errors. A failed send or receive
    // ends the program with 3.
    bool ask(const std::string& request, Json::Value* reply, std::string* errors = nullptr);
    void close();

    zmq::context_t context;

private:
    std::unique_ptr<ConfigRequest> requests;
    bool traces;
};

// Sockets of a worker, with the system's conventions (ZMQ_IPV6 1).
// The publisher bound to endpoint into *publisher; false, after "<program>
// publisher <endpoint>: <reason>" on standard error, when it cannot be bound.
bool openPublisher(zmq::context_t& context, const std::string& endpoint, zmq::socket_t* publisher);
// Connected to endpoint and subscribed to everything into *subscriber, giving
// up after timeoutMs of silence; false, after "<program> subscriber
// <endpoint>: <reason>" on standard error, when it cannot be connected.
bool openSubscriber(zmq::context_t& context, const std::string& endpoint, int timeoutMs, zmq::socket_t* subscriber);

enum class Received { Message, Stopped, Failed };

// Moves one whole message (every part, any size) from in to out. With print,
// each part's bytes up to its first NUL go to standard output as a line.
// Stopped when SIGINT interrupted the wait; Failed on an error or time-out.
Received relayMessage(zmq::socket_t& in, zmq::socket_t& out, bool print);

// One entry of the worker list: a forked process running one feed.
struct Worker {
    int pid = -1; // -1: not running
    std::string name;
    virtual ~Worker() = default;
    // Printed by the new process before it starts its work.
    virtual void printStart() const {}
    // Trace of the supervisor when the process has ended.
    virtual void printStopped() const = 0;
    // The work; its result ends the process.
    virtual int processStart() = 0;
};

// A worker that moves one feed, traced by its two endpoints when it stops.
struct FeedWorker : Worker {
    std::string publisherURL;
    std::string subscriberURL;
    Timing timing;
    void printStopped() const override;
};

// Forks a process for the worker. Parent: the worker's pid, 0. Failure:
// "ERROR on fork", the worker not running, 10. The process ends with the work's
// result when exitWithResult, else 0 (1 when the work threw); it also ends when
// its supervisor dies, so no worker outlives it. It starts with stop clear.
int fork_process(Worker* worker, bool exitWithResult = false);

// Starts the workers, then every cycle: ends them and returns 0 on a change
// notice, after SIGTERM, or after SIGINT without restart; restarts the first ended one (restart) or drops the
// ended ones (otherwise). The workers are ended on every way out of the program
// (exit(3) of a failed alert receive, exit(122) of a failed waitpid included).
class Supervisor {
public:
    Supervisor(std::vector<std::unique_ptr<Worker>> workers, const Timing& timing, bool traces, bool restart);
    ~Supervisor();
    Supervisor(const Supervisor&) = delete;
    Supervisor& operator=(const Supervisor&) = delete;

    // 0 when it ends on a notice, on SIGTERM, on SIGINT (without restart) or
    // with no worker; without restart,
    // the last worker's exit code (1 when it died by a signal).
    // noticeFd: the read end of a notice watcher's pipe (see superviseWithAlerts),
    // or -1 for none.
    int run(int noticeFd);
    // SIGTERM to every running worker, then reaps them.
    void endAll();

private:
    std::list<std::unique_ptr<Worker>> pid_list;
    Timing timing;
    bool traces;
    bool restart;
};

// The supervising programs' last steps: the alert channel on the service's
// notice publisher (its host from the connection, its port from
// configurator.publishers.alert, 5011 when none), subscribed to each topic,
// then the supervisor over the workers.
int superviseWithAlerts(ConfigSession& session, const std::string& connection, const Json::Value& reply,
                        std::initializer_list<std::string> topics, std::vector<std::unique_ptr<Worker>> workers,
                        const Timing& timing, bool traces);

template <typename Feed>
std::vector<std::unique_ptr<Worker>> asWorkers(std::vector<std::unique_ptr<Feed>>& feeds, const Timing& timing)
{
    std::vector<std::unique_ptr<Worker>> workers;
    for (auto& f : feeds) {
        f->timing = timing;
        workers.push_back(std::move(f));
    }
    return workers;
}

} // namespace relay
