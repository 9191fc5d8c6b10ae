// Output that a signal handler may do: write(2) only, numbers formatted by hand.
#pragma once

#include <unistd.h>

#include <cstddef>

namespace signalsafe {

// Writes every byte unless the descriptor fails.
inline void writeAll(int fd, const char* text, size_t length)
{
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n <= 0)
            return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

// Appends the decimal digits of value at out; the number of characters written
// (at most 11).
inline size_t appendInt(char* out, int value)
{
    char digits[16];
    size_t nd = 0;
    size_t pos = 0;
    unsigned v = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[nd++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (value < 0)
        out[pos++] = '-';
    while (nd > 0)
        out[pos++] = digits[--nd];
    return pos;
}

} // namespace signalsafe
