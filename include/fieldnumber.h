// Numbers in the comma-separated lines of the IMU and its feeds: a field is read
// only when it is a number, so that line noise never passes for a measured 0.
#pragma once

#include <cctype>
#include <cstdlib>

// True when nothing but blanks (isspace: CR and LF too) stands between p and
// the end of its field, a ',' or the end of the text.
inline bool atFieldEnd(const char* p)
{
    while (isspace(static_cast<unsigned char>(*p)))
        p++;
    return *p == ',' || *p == '\0';
}

// The field that starts at text as strtod reads it, when the reading takes the
// whole field but for blanks around it ("nan" and "inf" as strtod reads them,
// an out-of-range number as its HUGE_VAL or 0). False for an empty field and
// for one with anything else in it ("12abc", "abc", "-").
inline bool numberField(const char* text, double* value)
{
    char* end = nullptr;
    const double v = strtod(text, &end);
    if (end == text || !atFieldEnd(end))
        return false;
    *value = v;
    return true;
}
