#include "handler.h"

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

void writeAll(const char* text, size_t length)
{
    while (length > 0) {
        ssize_t n = write(STDERR_FILENO, text, length);
        if (n <= 0)
            return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

} // namespace

void handler(int sig)
{
    void* frames[10];
    int size = backtrace(frames, 10);

    // Only async-signal-safe calls from here on: the number is formatted by hand.
    char line[64] = "mainError: signal ";
    size_t pos = strlen(line);
    char digits[16];
    size_t nd = 0;
    unsigned value = sig < 0 ? 0u - static_cast<unsigned>(sig) : static_cast<unsigned>(sig);
    do {
        digits[nd++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (sig < 0)
        line[pos++] = '-';
    while (nd > 0)
        line[pos++] = digits[--nd];
    line[pos++] = ':';
    line[pos++] = '\n';
    writeAll(line, pos);
    backtrace_symbols_fd(frames, size, STDERR_FILENO);
    _exit(1);
}
