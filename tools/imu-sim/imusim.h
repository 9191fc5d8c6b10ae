// An IMU on a pseudo-terminal: it answers the IMU's command set from a
// parameter map, streams data lines at its configured output rate, records every
// command it receives, and on request shows the faults of a real unit or cable.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ptypair.h"

struct ImuSimOptions {
    std::string linkPath;   // when set: a symbolic link to the terminal's path
    bool streaming = false; // streams from power-up (and again after "restart")
    std::string line = "X,0,0,1.234,10,20,30,0.5,4294967295,0"; // data line, without CR LF
    std::map<std::string, std::string> params; // added to, or replacing, the defaults
    bool echo = false;      // prints "cmd <command>" for each command on standard output
};

// The parameter map of a fresh unit: "group,param" (three names for the getpar
// and setpar parameters) to the text the IMU holds.
std::map<std::string, std::string> imuSimDefaults();

class ImuSim {
public:
    explicit ImuSim(const ImuSimOptions& options);
    ~ImuSim();
    ImuSim(const ImuSim&) = delete;
    ImuSim& operator=(const ImuSim&) = delete;

    // Opens the pseudo-terminal pair; false when none could be had.
    bool open();
    const std::string& tty() const { return pty.slavePath; }

    // The simulator on a thread of its own (tests) ...
    void start();
    // ... or on the caller's: runs until "hangup" or stop(), with control lines
    // also read from controlFd when it is not -1.
    void run(int controlFd = -1);
    void stop();

    // One control line: silence, resume, silent-for N, refuse <command prefix>,
    // noeol, reply <text>, badlist, param <key>=<value>, line <text>, tail N,
    // emit, hangup.
    void control(const std::string& line);

    // Every command received so far, without its CR LF, in order.
    std::vector<std::string> commands() const;
    // Waits until at least count commands arrived; false at the deadline.
    bool waitForCommands(size_t count, std::chrono::milliseconds timeout) const;
    std::string param(const std::string& key) const;

private:
    void apply(const std::string& line);
    void handle(const std::string& command);
    std::string answer(const std::string& command);
    void send(const std::string& text);
    void emitLine();
    std::chrono::microseconds period() const;
    void wake();

    ImuSimOptions options;
    PtyPair pty;
    int wakePipe[2] = {-1, -1};
    std::thread thread;

    mutable std::mutex lock;
    std::map<std::string, std::string> params;
    std::vector<std::string> received;
    std::string pending;     // bytes of a command not yet ended
    bool streaming;
    bool silent = false;
    int silentFor = 0;
    std::string refusePrefix;
    bool noEol = false;
    bool overrideReply = false;
    std::string overrideText;
    bool badList = false;
    int tailLines = 0;
    bool emitNow = false;
    bool hangup = false;
    bool stopping = false;
};
