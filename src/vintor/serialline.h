// What the serial front-ends share: their waits and retries, and waiting for
// a port to become readable.
#pragma once

#include <sys/select.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// The defaults are the radars' own; tests shorten them so that silent-radar
// paths do not take minutes.
struct SerialTiming {
    // Framed link: pause before each receive and between byte-count polls,
    // the number of polls, and the readable wait of one receive cycle.
    int settleMs = 50;
    int pollCount = 102;
    int cycleReadableMs = 1010;
    // A receive ends 100 ms plus a third of the scan period after it began.
    int receiveBaseMs = 100;
    // Echo on a half-duplex line: wait for its first byte, between reads, and
    // for a single byte.
    int echoFirstMs = 10000;
    int echoGapMs = 1000;
    int echoByteMs = 5000;
    // Pause between a command and the read of its reply (reset, status, buffers).
    int replyPauseMs = 100;
    int emptyCycles = 10000;
    // Tunnelled set-up: the window for an answer and the pause between its polls,
    // the version attempts, and the pauses between the set-up steps.
    int answerWindowMs = 30000;
    int answerPollMs = 100;
    int versionTries = 401;
    int stepPauseMs = 1000;
    int ackPauseMs = 200;
    // Line protocol: wait for a readable line, attempts per command and the pause between them.
    int lineReadableMs = 10000;
    int okTries = 11;
    int okPauseMs = 10;
};

// select on one descriptor for at most ms milliseconds: > 0 when readable.
inline int waitReadable(int fd, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    struct timeval tv = {ms / 1000, (ms % 1000) * 1000};
    return select(fd + 1, &set, nullptr, nullptr, &tv);
}

// Whether a failed call says the device itself has gone (unplugged, hung up),
// not that it is merely busy or quiet.
inline bool deviceGone(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF; }

// Ends the radar process when its serial device has gone: the radar manager
// then starts the radars again and the new process opens the device afresh,
// where reading on would only spin on a dead descriptor.
[[noreturn]] inline void serialLineLost(const std::string& device, int err) {
    std::fprintf(stderr, "\nSerial line %s lost: %s\n", device.c_str(),
                 err != 0 ? std::strerror(err) : "end of file");
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(1);
}

// Ends the radar process when a read of its port (non-blocking, raw mode)
// found the device gone: a quiet line answers EAGAIN, a hung-up one the end of
// file or an error. Called right after a read that asked for at least one
// byte (a read of none gives 0 on a live line), while errno is its own.
inline void endIfReadFoundLineGone(ssize_t n, const std::string& device) {
    const int err = errno;
    if (n == 0 || (n < 0 && deviceGone(err))) serialLineLost(device, n == 0 ? 0 : err);
}
