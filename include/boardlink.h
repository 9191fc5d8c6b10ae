// Serial link to the station's radar board: finding its tty, raw set-up at
// 115200 baud, command frames, and reading board messages out of the byte stream.
// Shared by tarnix-pic32 and board-serialtest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tarnix.h"

constexpr int DEVICE_PATH_SIZE = 8192;
constexpr int BOARD_FRAME_SIZE = static_cast<int>(sizeof(beagle_raw_data_t));
constexpr uint16_t FRAME_VERSION = 0x000C;
constexpr uint16_t SYNC_WORD = 0xFFFF;
constexpr uint16_t TICK_WORD = 0x5555;
constexpr uint16_t LINE_END_WORD = 0x0D0A;
constexpr uint16_t FIRST_SWEEP_GAIN = 0x0100;

// readSweep results.
enum SweepResult {
    SWEEP_FAILED = -1,     // descriptor invalid, read error or hang-up
    SWEEP_NOTHING = 0,     // a full buffer passed without a recognised message
    SWEEP_FRAME = 1,
    SWEEP_TICK = 2,
    SWEEP_LINE_END = 3,
    SWEEP_UNKNOWN = 4,
    SWEEP_SILENT = 5,      // six empty waits in a row
};

// A command to the board: one byte, then up to 11 words, most significant byte first.
struct serial_cmd_st {
    uint8_t command;
    uint16_t words[11];
    int32_t count;
};

// Runs the detection script (no shell) with `name` as its only argument; the last
// line it prints, without its line end, becomes `device` (DEVICE_PATH_SIZE bytes).
// 0 success, -1 script missing, -2 waiting for it failed, -3 it could not be
// started, -4 it printed nothing.
int detectUSBDevice(const std::string& script, const char* name, char* device, bool quiet);

// Opens the port raw 8N1 at 115200; the descriptor, or a negative value with
// errno set when it cannot be opened or set up.
int openSerial(const char* path, bool quiet);
int setSerialAttributes(int fd, unsigned speed, unsigned parity, bool quiet);
bool isDescriptorValid(int fd);

// Wire bytes of a command; returns their number (at least 1).
int encodeCommand(const serial_cmd_st& cmd, uint8_t* out);
int sendSerial(int fd, const serial_cmd_st& cmd);
serial_cmd_st makeCommand(char command, std::initializer_list<uint16_t> words);

uint16_t crc16Buffer(const uint8_t* bytes, int length, uint16_t crc);
// Check value of a frame as received: header and samples, not the crc word.
uint16_t sweepFrameCRC(const beagle_raw_data_t& frame);
// The board sends each 32-bit field as two units, most significant unit first.
uint32_t swapHalves(uint32_t v);

// Prints `words` words of `bytes`, low byte first, each as "%04X ": how the board's
// traffic is dumped.
void printWords(const uint8_t* bytes, int words);

// Reads board messages. Bytes that follow a recognised message are kept for the
// next call, so a tick and the start of a frame in one read lose neither.
class SweepReader {
public:
    explicit SweepReader(bool quiet = false, int waitMs = 2000);
    // Blocks until one message is recognised; see SweepResult. `frame` is filled on SWEEP_FRAME.
    int readSweep(int fd, beagle_raw_data_t* frame);
    // Forgets held bytes, for a port that was closed and opened again.
    void reset();
    int held() const { return count; }

private:
    // Held bytes start at most FILL_LIMIT in, so a frame's worth past them stays inside.
    enum { BUFFER_SIZE = 16384, FILL_LIMIT = 8192 };
    // What the last read of this call did: select's result, bytes asked for and got.
    struct ReadInfo {
        int res = 0;
        int want = 0;
        int n = 0;
    };
    static bool knownKind(uint16_t w);
    void resynchronise();
    // Returns a result, or -2 when more bytes are needed.
    int decide(beagle_raw_data_t* frame);
    uint16_t word(int i) const;
    void drop(int bytes);
    void compact();
    void dumpWords(const char* head, int from, int words) const;

    bool quiet;
    int waitMs;
    ReadInfo lastRead;
    bool dumpHeld = false;  // a read came: the held words are shown once resynchronised
    int start = 0;  // held bytes are buf[start, start + count)
    int count = 0;
    uint8_t buf[BUFFER_SIZE];
};
