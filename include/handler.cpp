#include "handler.h"

#include "signalsafe.h"

#include <execinfo.h>
#include <unistd.h>

#include <cstring>

namespace {

// The first backtrace() loads the unwinder, which allocates; do it at start-up,
// not inside the handler of a crashed process.
struct PrimeBacktrace {
    PrimeBacktrace()
    {
        void* frame[1];
        backtrace(frame, 1);
    }
} primeBacktrace;

} // namespace

void handler(int sig)
{
    void* frames[10];
    int size = backtrace(frames, 10);

    // Only async-signal-safe calls from here on.
    char line[64] = "mainError: signal ";
    size_t pos = strlen(line);
    pos += signalsafe::appendInt(line + pos, sig);
    line[pos++] = ':';
    line[pos++] = '\n';
    signalsafe::writeAll(STDERR_FILENO, line, pos);
    backtrace_symbols_fd(frames, size, STDERR_FILENO);
    _exit(1);
}
