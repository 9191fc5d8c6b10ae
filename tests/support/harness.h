// Support for tests that run whole programs: processes in their own group with
// deadlines on everything, feed subscribers that survive the slow-joiner loss,
// the configuration service stand-in and scratch directories.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <zmq.hpp>

namespace testsupport {

using std::chrono::milliseconds;

// Path of a file in the source tree, e.g. sourcePath("config/station.json").
std::string sourcePath(const std::string& relative);
// Path of the built configuration service stand-in.
std::string configservicePath();

// TCP ports that were free on every address a moment ago, all distinct, from
// outside the kernel's ephemeral range; no other test process of the machine
// is handed them while this one runs.
int freePort();
std::vector<int> freePorts(size_t count);

// A fresh directory, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
// How often `what` stands in `text`, overlapping ones counted.
size_t count(const std::string& text, const std::string& what);

// A program started with arguments in a process group of its own (a name
// without a slash is looked up on PATH). Its stdout
// (and stderr when mergeStderr) is read through a pipe; otherwise stderr is the
// test's. The destructor kills the whole group and reaps the program.
class Process {
public:
    struct Options {
        bool mergeStderr = false;
        std::string workingDirectory; // empty: the test's
        std::vector<std::string> environment; // "NAME=value" added to the test's
    };

    Process(const std::string& program, const std::vector<std::string>& args);
    Process(const std::string& program, const std::vector<std::string>& args, const Options& options);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }

    // Next whole stdout line (without its line end); false at the deadline or at
    // end of output.
    bool readLine(std::string* line, milliseconds timeout);
    // Reads lines until one contains text; every line read is kept in output().
    bool waitForLine(const std::string& text, milliseconds timeout, std::string* line = nullptr);
    // Everything read from stdout so far, including lines already returned.
    const std::string& output() const { return output_; }
    // Reads whatever arrives until the deadline or end of output.
    void drain(milliseconds timeout);

    void signal(int sig);
    void signalGroup(int sig);

    // Waits for the program to end; false at the deadline. *status is the
    // waitpid status.
    bool wait(milliseconds timeout, int* status = nullptr);
    // Exit code after wait(), or -1 if it ended by a signal or is still running.
    int exitCode() const;
    bool running();

private:
    bool fill(milliseconds timeout);

    pid_t pid_ = -1;
    int outFd_ = -1;
    bool exited_ = false;
    int status_ = 0;
    std::string pending_;
    std::string output_;
};

// What a program that ran to its end left: its exit code (-1 when a signal
// ended it or it still ran at the deadline, then killed) and its standard output.
struct Finished {
    int code;
    std::string out;
};
Finished runToEnd(const std::string& program, const std::vector<std::string>& args, bool mergeStderr = false,
                  milliseconds timeout = milliseconds(20000));

// Connects subscriber `socket` (of `context`) to a publisher that binds
// `endpoint` and waits until the publisher has read the subscription, so that
// nothing it publishes from then on passes the subscriber by, where a test would
// otherwise wait some fixed time for the subscription to join. The publisher is
// one with a single I/O thread, as every program here has. False at the deadline.
bool joinFeed(zmq::context_t& context, zmq::socket_t& socket, const std::string& endpoint, milliseconds timeout);

// A subscriber on one feed endpoint.
class Subscriber {
public:
    explicit Subscriber(const std::string& endpoint, const std::string& topic = "");

    // One message (all frames joined); false at the deadline.
    bool receive(std::string* message, milliseconds timeout);
    // Up to count messages; returns what arrived before the deadline.
    std::vector<std::string> collect(size_t count, milliseconds timeout);
    // For one-shot publications: calls trigger, waits a little for a message, and
    // repeats until one arrives, so the first ones lost while the subscription
    // joins do not matter.
    bool receiveAfter(const std::function<void()>& trigger, std::string* message, milliseconds timeout,
                      milliseconds retry = milliseconds(150));

private:
    zmq::context_t context_{1};
    zmq::socket_t socket_;
};

// A feed the test publishes on, bound on every IPv4 and IPv6 address. As an
// extended publisher it sees subscriptions arrive, so a test knows when a
// program has subscribed instead of sleeping.
class Publisher {
public:
    explicit Publisher(int port);

    // True once a subscription has arrived; false at the deadline.
    bool subscribed(milliseconds timeout);
    void send(const std::string& bytes);

private:
    zmq::context_t context_{1};
    zmq::socket_t socket_;
};

// One request/reply exchange with a deadline; false when no reply came.
bool request(const std::string& endpoint, const std::string& text, std::string* reply,
             milliseconds timeout = milliseconds(5000));

// The configuration service stand-in as a process.
struct ConfigServiceOptions {
    std::string config;      // empty: no configuration file
    std::string memory;      // empty: empty memory tree
    int repPort = 5010;
    int pubPort = 5011;
    std::string requestLog;  // empty: no log
    std::string reply;       // "", "nonjson", "nosuccess", "silent" or "deep"
    std::string nullSection;
    std::string delay;       // "<verb>:<ms>": replies to that verb come late
};
// Starts the stand-in and waits for its ready line; null when it did not come.
std::unique_ptr<Process> startConfigService(const ConfigServiceOptions& options,
                                            milliseconds timeout = milliseconds(10000));
std::vector<std::string> configServiceArgs(const ConfigServiceOptions& options);
// Writes `json` as config.json (and `memory`, when given, as memory.json) into
// `dir` and starts the stand-in on the fixed ports with it (whole-program tests
// in their own namespace).
std::unique_ptr<Process> startConfigServiceWith(const TempDir& dir, const std::string& json,
                                                const std::string& memory = "");
// Starts the stand-in on probed free ports, probing afresh when another test took
// a port between the probe and the bind; the ports used are left in *options.
std::unique_ptr<Process> startConfigServiceOnFreePorts(ConfigServiceOptions* options, int attempts = 3);

// The requests of a stand-in's request log, byte for byte, in arrival order.
std::vector<std::string> readRequestLog(const std::string& path);

// Maps a file that a program under test creates, once it has reached `size`
// bytes (waiting up to `timeout`); null when it never did. The mapping stays
// for the life of the test process.
void* mapSharedFile(const std::string& path, std::size_t size, bool writable,
                    milliseconds timeout = milliseconds(5000));
template <typename T>
T* mapShared(const std::string& path, milliseconds timeout = milliseconds(5000))
{
    return static_cast<T*>(mapSharedFile(path, sizeof(T), true, timeout));
}
template <typename T>
const T* mapSharedReadOnly(const std::string& path, milliseconds timeout = milliseconds(5000))
{
    return static_cast<const T*>(mapSharedFile(path, sizeof(T), false, timeout));
}

} // namespace testsupport
