// A device simulated on a pseudo-terminal: the program under test opens the
// slave path as its serial port, the simulator owns the master. The base runs
// the loop (input from the host, timed output, control lines) and keeps a log of
// what the device saw; a device class answers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ptypair.h"

using Bytes = std::vector<uint8_t>;

// Writes path and a line end to linkFile (through a rename, so a reader never
// sees half a path).
bool publishPath(const std::string& linkFile, const std::string& path);

class PtySim {
public:
    PtySim();
    virtual ~PtySim();
    PtySim(const PtySim&) = delete;
    PtySim& operator=(const PtySim&) = delete;

    // Opens the terminal pair and, when linkFile is given, publishes the slave's path there.
    bool open(const std::string& linkFile = "");
    const std::string& slavePath() const { return pty_.slavePath; }

    // Runs on this thread until stop(), a "hangup" control line, or a failure
    // (result 1). Control lines also come from controlFd (standard input or a FIFO; -1: none).
    int run(int controlFd = -1);
    // A simulator program's whole life: opens the terminal, publishes its path,
    // logs to standard output, prints "<name> ready" and runs, with control
    // lines from the FIFO controlFile (standard input when empty).
    int serve(const std::string& name, const std::string& linkFile, const std::string& controlFile);
    // run() on a thread of its own, for tests; stop() ends it.
    void start();
    void stop();

    // A control line, handled on the simulator's thread as if typed.
    void control(const std::string& line);

    // Log lines so far ("frame ...", "cmd ..."), and waiting for one that starts
    // with prefix at or after index from.
    std::vector<std::string> log() const;
    bool waitForLog(const std::string& prefix, int timeoutMs, size_t from = 0) const;
    size_t logSize() const;

    // Log lines also go to standard output (the programs).
    bool printLog = false;

protected:
    // Bytes from the host.
    virtual void input(const uint8_t* data, size_t n) = 0;
    // One control line; false when it is not one of the device's.
    virtual bool command(const std::string& line) = 0;

    // Queues bytes for the host, written delayMs after the bytes queued before them.
    void send(const Bytes& bytes, int delayMs = 0);
    void note(const std::string& line);

private:
    struct Chunk {
        int64_t due;
        Bytes bytes;
        size_t done;
    };
    void takeControl(const char* data, size_t n, std::string* pending, bool* hangup);
    bool writeDue();
    int waitMs() const;

    PtyPair pty_;
    int wake_[2] = {-1, -1};   // control lines and stop from other threads
    std::deque<Chunk> out_;
    int64_t lastDue_ = 0;
    bool stop_ = false;
    std::thread thread_;
    mutable std::mutex logMutex_;
    mutable std::condition_variable logChanged_;
    std::vector<std::string> log_;
};

// Bytes as "01 04 FB" (upper-case hex, one blank between bytes).
std::string hexText(const uint8_t* data, size_t n);
inline std::string hexText(const Bytes& b) { return hexText(b.data(), b.size()); }
// The bytes of such a text; blanks are optional.
Bytes hexBytes(const std::string& text);
