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

// A TCP or UDP port a program binds or connects: 1..65535. The socket calls
// take the number modulo 65536 and 0 as "any port", so anything else would
// listen or connect somewhere nobody looks.
inline bool isPortNumber(long v) { return v >= 1 && v <= 65535; }

// A port as text: decimal digits only, nothing before or after them (no sign,
// no blank, which a connect refuses anyway), of a port number.
inline bool parsePortNumber(const char* text, int* port)
{
    if (text == nullptr || *text == '\0')
        return false;
    for (const char* c = text; *c != '\0'; ++c)
        if (*c < '0' || *c > '9')
            return false;
    return parseWholeNumber(text, port, 1, 65535);
}

// A port as strtol reads its text (leading blanks, a sign, the digits up to the
// first other character), for the texts that have always been read that way;
// 0 when that reads no port number.
inline int leadingPortNumber(const char* text)
{
    const long v = strtol(text, nullptr, 10);
    return isPortNumber(v) ? static_cast<int>(v) : 0;
}
