// script-launcher: runs the actions queued in the configuration memory and the
// scripts dropped into its watched directories, each once, then deletes them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <zmq.hpp>

#include "configrequest.h"

namespace launcher {

struct Settings {
    bool quiet = false;
    std::vector<std::string> directories = {"/tmp/script-launcher", "/opt/kestrom/script-launcher"};
    std::string requestEndpoint = "tcp://localhost:5010";
    std::string noticeEndpoint = "tcp://localhost:5011";
    std::string bash = "/bin/bash";
    int eventWaitMs = 2000;
    int pauseMs = 100;
};

// One inotify event as the kernel wrote it.
struct Event {
    int wd = -1;
    uint32_t mask = 0;
    uint32_t cookie = 0;
    std::string name; // empty when the event has none
};
// The events of one read; a truncated last event is left out.
std::vector<Event> parseEvents(const char* buffer, size_t length);
// Names of the set mask bits, each followed by a blank.
std::string maskNames(uint32_t mask);

using Action = std::pair<std::string, std::string>; // name, command
enum class ActionsReply { Unparsable, NotFound, Found };
// The commands under "success" -> "actions", in the order of their names.
// Members that are not texts cannot run and are left out.
ActionsReply parseActions(const std::string& reply, std::vector<Action>* actions);
// The request deleting an action from the memory: it names the command text.
std::string deleteRequest(const std::string& command);

const char* const ACTIONS_REQUEST = "{\"getmem\":{\"actions\":\"\"}}";

class Launcher {
public:
    explicit Launcher(const Settings& settings);
    ~Launcher();
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    // Sockets, the memory actions, the watches and the scripts already there.
    void start();
    // One pass: a notice, the directory events, the pause.
    void loopOnce();
    [[noreturn]] void run();

    // Runs every queued memory action once; 3 when the reply does not parse.
    int processActions();
    // Runs the script in a child that then deletes it; 1 when fork fails.
    int runScript(const std::string& path);

private:
    std::string exchange(const std::string& request);
    void watch(const std::string& directory);
    void collectEnded();
    void handleEvents();

    Settings settings_;
    zmq::context_t context_;
    ConfigRequest requests_;
    zmq::socket_t notices_;
    int inotify_ = -1;
    std::map<int, std::string> watches_;  // watch descriptor -> directory
    std::map<pid_t, std::string> running_; // script children -> their path
    std::string lastScript_;
};

} // namespace launcher
