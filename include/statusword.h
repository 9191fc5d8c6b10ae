// The IMU's 32-bit status word as it travels in text: imu-reader reads it from
// the IMU's line, motion-sentinel from the status feed.
#pragma once

#include <cstdint>
#include <cstdlib>

// Decimal text (strtol rules: leading blanks, a sign, digits up to the first
// other character; no digits gives 0) read as a 64-bit number. Both the signed
// and the unsigned writing of a word keep their bit pattern: -1 and 4294967295
// are 0xFFFFFFFF. Text beyond -2^31 .. 2^32-1 saturates at the nearest signed
// 32-bit limit.
inline uint32_t statusWordFromText(const char* text)
{
    long long v = strtoll(text, nullptr, 10);
    if (v > 4294967295LL)
        return 0x7FFFFFFFu;
    if (v < -2147483648LL)
        return 0x80000000u;
    return static_cast<uint32_t>(v);
}
