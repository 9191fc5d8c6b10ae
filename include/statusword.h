// The IMU's 32-bit status word as it travels in text: imu-reader reads it from
// the IMU's line, motion-sentinel from the status feed.
#pragma once

#include "fieldnumber.h"

#include <cstdint>
#include <cstdlib>

// The comma-separated field at text as a whole decimal number (strtol rules:
// leading blanks, a sign, digits; trailing blanks allowed), read as a 64-bit
// number. Both the signed and the unsigned writing of a word keep their bit
// pattern: -1 and 4294967295 are 0xFFFFFFFF. Text beyond -2^31 .. 2^32-1
// saturates at the nearest signed 32-bit limit. False, *word untouched, for a
// field that holds no such number ("", "abc", "12abc", "7.5"): no bit of a
// word that was never sent is cleared.
inline bool statusWordFromText(const char* text, uint32_t* word)
{
    char* end = nullptr;
    const long long v = strtoll(text, &end, 10);
    if (end == text || !atFieldEnd(end))
        return false;
    if (v > 4294967295LL)
        *word = 0x7FFFFFFFu;
    else if (v < -2147483648LL)
        *word = 0x80000000u;
    else
        *word = static_cast<uint32_t>(v);
    return true;
}
