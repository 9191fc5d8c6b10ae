// The serial side of libqvpSerial without Java: the process-wide table of open
// ports, the line settings and the receive waits. The natives translate between
// this and the Java objects.
#pragma once

#include <termios.h>

#include <atomic>
#include <cstddef>
#include <mutex>

namespace qvpserial {

constexpr int kSlots = 128;
constexpr std::size_t kMaxPath = 63; // longest device path, in bytes

// Results of the open and configure natives; other positive values are errno.
enum Code : int {
    kOk = 0,
    kSlotInUse = 1000,
    kBadPortNumber = 1003,
    kNoDevice = 1004,
    kNoFreeSlot = 1005,
    kAccessDenied = 1006,
    kBusy = 1007,
    kNoSuchFile = 1008,
    kNoExceptionClass = 5000,
    kBadName = 5001,
    kInputSpeed = 5001,
    kOutputSpeed = 5002,
    kSetAttributes = 5003,
    kFlush = 5004,
};

constexpr int kLibVersion = 0x40007;
constexpr const char* kLibVersionText = "qvpSerial 4.7";

// errno of a failed open(2) as the code the Java side expects.
int openErrorCode(int err);

// Line settings built from scratch, speed included: bitRate indexes 110 .. 230400
// bit/s, dataBits 5 .. 8 bits, stopBits 1 or 2; parity 0 none, 1 odd, 2 even,
// 3 mark, 4 space; handshake 1 or bits 0x40 (IXOFF) / 0x80 (IXON) for software
// flow control, 2 or bits 0x30 for RTS/CTS. Returns 0, kInputSpeed for a bit-rate
// index out of range, kOutputSpeed, or kSetAttributes for a data- or stop-bit
// index out of range (what applying them to no port would give).
int buildTermios(int bitRate, int parity, int dataBits, int stopBits, int handshake, termios* out);

// The raw 9600 bit/s 8N1 line a port gets when it is opened.
int rawTermios(termios* out);

// tcsendbreak's duration for the Java side's break length.
int breakDuration(int tics);

// Waits until fd can be read without blocking; false when timeoutMs passed first,
// on an error, for a negative time-out (at once) or a negative fd.
bool waitReadable(int fd, int timeoutMs);

struct OpenRequest {
    const char* name = nullptr; // device path; shorter than 2 bytes: open by number
    std::size_t nameLength = 0;
    int port = 0;               // by number: slot index + 1
    const char* base = nullptr; // by number: device path prefix
    std::size_t baseLength = 0;
};

struct OpenResult {
    int code = kOk;
    int slot = -1;
    bool badName = false; // the device path does not fit (code kBadName)
};

// 128 slots of descriptors and time-outs. Opening, configuring and closing are
// serialised; reads and writes on different slots are independent. A slot index
// outside 0 .. 127 behaves like a free slot.
class PortTable {
public:
    PortTable();
    PortTable(const PortTable&) = delete;
    PortTable& operator=(const PortTable&) = delete;

    OpenResult open(const OpenRequest& request);
    // 0, or kSetAttributes when the slot is not open or the settings do not apply.
    int configure(int slot, const termios& settings);
    // close(2)'s result; the slot is free afterwards.
    int close(int slot);
    // The slot's descriptor, -1 when it is free or out of range.
    int fd(int slot) const;

    static bool valid(int slot) { return slot >= 0 && slot < kSlots; }
    // Time-outs in milliseconds, kept per slot whether it is open or not
    // (a port reopened in a slot keeps them); setters refuse slots out of range.
    bool setTimeoutRx(int slot, int ms);
    bool setTimeoutTx(int slot, int ms);
    int timeoutRx(int slot) const { return valid(slot) ? tmoRx[slot].load(std::memory_order_relaxed) : 0; }
    int timeoutTx(int slot) const { return valid(slot) ? tmoTx[slot].load(std::memory_order_relaxed) : 0; }

private:
    std::mutex lock;
    std::atomic<int> hSerPort[kSlots];
    std::atomic<int> tmoRx[kSlots];
    std::atomic<int> tmoTx[kSlots];
};

} // namespace qvpserial
