// Card power, resume flag and battery status without Java: the PC-card control
// device, /proc/devices, /proc/apm and the SIGCONT flag.
#pragma once

#include <sys/ioctl.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace qvpserial {

// Status record of the card-status request.
struct CardStatus {
    uint8_t Function; // the socket
    uint32_t CardState;
    uint32_t SocketState;
};
static_assert(sizeof(CardStatus) == 12, "card status record is 12 bytes");
static_assert(offsetof(CardStatus, CardState) == 4 && offsetof(CardStatus, SocketState) == 8,
              "card status fields");

constexpr unsigned long kSuspendCard = 0x640C;
constexpr unsigned long kResumeCard = 0x640D;
constexpr unsigned long kGetCardStatus = 0xC00C6409;
static_assert(kSuspendCard == _IO('d', 12) && kResumeCard == _IO('d', 13), "card power requests");
static_assert(kGetCardStatus == _IOWR('d', 9, CardStatus), "card status request");
constexpr uint32_t kCardSuspended = 0x2000; // CardState bit
constexpr int kMaxSocket = 8;

// Results of the card-power natives.
enum PowerCode : int {
    kBadPowerMode = 5000,
    kNoCardSocket = 5001,
    kCardRequestFailed = 5002,
};

constexpr const char* kProcDevices = "/proc/devices";
constexpr const char* kProcApm = "/proc/apm";
constexpr const char* kNodeDirs[] = {"/var/lib/pcmcia", "/var/run", "/dev", "/tmp"};

// Major number of the character driver `name` in a /proc/devices listing (first
// line "<number> <name>"), -ENODEV when it is not listed.
int lookupDev(std::FILE* listing, const char* name);
// The same from a file; -errno when the file cannot be opened.
int lookupDev(const char* path, const char* name);

// Opens the control device of card socket `socket` through a node made for the
// purpose, in the first of `dirs` where that works, and removes the node at once.
// The descriptor, or -1. Needs root.
int openSock(int major, int socket, const char* const* dirs = kNodeDirs,
             std::size_t dirCount = sizeof kNodeDirs / sizeof kNodeDirs[0]);

// The battery state of a /proc/apm text in one integer: percentage in bits 0..6
// (0x7F unknown), bit 7 battery present, battery status in bits 8..15, AC line
// status from bit 16. False when the text has fewer than seven fields.
bool packApm(const char* text, int32_t* packed);
// The same read from a file; false when it cannot be read or parsed.
bool readApm(const char* path, int32_t* packed);

// Installs the SIGCONT handler that sets the resume flag.
void installContinueHandler();
// The resume flag: 1 when a SIGCONT came since it was last cleared.
int resumeState(bool clear);

} // namespace qvpserial
