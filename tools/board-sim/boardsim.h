// Simulator of the station's radar board on a pseudo-terminal: it answers the
// board's command frames and sends timing ticks and sweep pairs at the commanded
// rate, and on request the faults a real board or cable can produce.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "ptypair.h"
#include "tarnix.h"

using Bytes = std::vector<uint8_t>;

struct SweepSpec {
    uint32_t id = 0;
    uint32_t boardTime = 0;
    bool first = true;          // gain bit 0x0100
    double toneCycles = 40.0;   // beat tone, cycles per sweep
    bool badCheck = false;
};

// One sweep frame as the board sends it (without the sync word): 32-bit fields as
// two units, most significant unit first; a valid, non-zero check word unless asked otherwise.
Bytes sweepWire(const SweepSpec& spec);
Bytes syncWire();
Bytes tickWire();
Bytes lineEndWire();
// The parts one after another, as one write.
Bytes join(std::initializer_list<Bytes> parts);

// Commands the board understands, cut out of the byte stream from the host.
struct BoardCommand {
    enum Kind { START, RATE, STOP, ASK, UNKNOWN } kind;
    uint16_t rate = 0;
    uint8_t byte = 0;
};

class CommandParser {
public:
    void feed(const uint8_t* data, size_t n) { held.insert(held.end(), data, data + n); }
    // True when a whole command was taken from the held bytes.
    bool next(BoardCommand* cmd);

private:
    Bytes held;
};

struct SimOptions {
    std::string linkFile = "/tmp/board-sim.tty"; // the detection stand-in prints this file
    int periodMs = 1000;   // tick period at rate word 8
    int stepMs = 1;        // period change per rate-word unit
    int answerBytes = 40;  // answer to the test request 'A'
    double toneCycles = 40.0;
    std::string controlFile; // control lines from this FIFO instead of standard input
};

// Runs until a hang-up is asked for or it is signalled. Control lines (standard
// input or the control FIFO): garbage, badcheck, orphan, split, lineend, tick, silence, resume, hangup.
int runBoardSim(const SimOptions& options);
