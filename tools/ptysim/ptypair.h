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
    void close();
    ~PtyPair() { close(); }
};
