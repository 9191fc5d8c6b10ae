// The board reader service: settings from the configuration service, the board
// found and opened, its sweep clock locked to the wall clock, sweep pairs
// published on "rawdata-pub" with semaphore 445551 set.
#pragma once

#include <string>

struct TarnixOptions {
    std::string progname = "tarnix-pic32";
    bool quiet = false;
    bool daemon = false;
    std::string configEndpoint = "tcp://localhost:5010";
    std::string noticeEndpoint = "tcp://localhost:5011";
    int semKey = 445551;
    int waitMs = 2000;          // one empty wait for the board
    int reopenDelayMs = 1000;   // pause before the board is looked for again
};

// Runs until a change notice or a fatal condition; the program's exit status.
int runTarnix(const TarnixOptions& options);
