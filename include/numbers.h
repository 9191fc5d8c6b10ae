// Whole numbers from command lines and configuration texts, checked: a text that
// is not entirely a number in range is refused instead of read as 0.
#pragma once

#include <cerrno>
#include <climits>
#include <cstdlib>

// Decimal integer in [min, max], nothing before or after it.
inline bool parseWholeNumber(const char* text, long min, long max, long* value)
{
    if (text == nullptr || *text == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    *value = v;
    return true;
}

// The same for an int, by default anything an int holds.
inline bool parseWholeNumber(const char* text, int* value, int min = INT_MIN, int max = INT_MAX)
{
    long v = 0;
    if (!parseWholeNumber(text, min, max, &v))
        return false;
    *value = static_cast<int>(v);
    return true;
}

// A TCP port, 1..65535.
inline bool parsePortNumber(const char* text, int* port)
{
    long v = 0;
    if (!parseWholeNumber(text, 1, 65535, &v))
        return false;
    *port = static_cast<int>(v);
    return true;
}
