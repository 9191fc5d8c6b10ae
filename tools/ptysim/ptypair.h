// A pseudo-terminal pair, for simulators of serial devices and for tests.
#pragma once

#include <string>

// The pair keeps a descriptor of the slave itself, so the terminal survives
// while a program under test closes and reopens it.
struct PtyPair {
    int master = -1;
    int slave = -1;
    std::string slavePath;

    bool open();
    // As open(), for a simulated device: the slave raw, so that it neither
    // echoes nor edits lines before the program under test sets it up, and
    // the master non-blocking, so that a host that stops reading never stalls
    // the simulator.
    bool openForDevice();
    void close();
    ~PtyPair() { close(); }
};
