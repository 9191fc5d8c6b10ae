// An IMU data line or an action message of any bytes: a line is accepted only
// with the unit's first character, ten fields and a number in each used field,
// and its feed texts always fit their buffers whole.
#include "reader.h"

#include <strings.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Field n of the line, up to its comma.
std::string fieldOf(const char* line, int n)
{
    const char* p = line;
    for (int i = 0; i < n; i++)
        p = strchr(p, ',') + 1;
    return std::string(p, strcspn(p, ","));
}

// Whether a field could be a number at all: a digit in it, or a "nan" or an
// "inf" behind blanks and a sign.
bool mayBeNumber(const std::string& field, bool whole)
{
    for (char c : field)
        if (isdigit(static_cast<unsigned char>(c)))
            return true;
    if (whole)
        return false;
    size_t i = field.find_first_not_of(" \t\n\v\f\r");
    if (i != std::string::npos && (field[i] == '+' || field[i] == '-'))
        i++;
    return i != std::string::npos && (strncasecmp(field.c_str() + i, "nan", 3) == 0 || strncasecmp(field.c_str() + i, "inf", 3) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The reader holds at most 199 bytes of a line, NUL-terminated.
    char line[200] = {0};
    memcpy(line, data, size < 199 ? size : 199);
    const char id = size > 0 ? line[0] : 'X';
    ImuSample sample;
    if (parseSample(line, id, &sample)) {
        size_t commas = 0;
        for (const char* p = line; *p; p++)
            commas += *p == ',';
        if (commas < 9 || line[0] != id)
            abort();
        for (int n = 3; n <= 8; n++)
            if (!mayBeNumber(fieldOf(line, n), n == 8))
                abort();
        FeedTexts t;
        formatFeeds(sample, 18446744073709551615ull, &t);
        for (const char* text : {t.heave, t.attitude, t.status, t.imu})
            if (strlen(text) + 1 >= sizeof t.imu)
                abort();
    }
    const std::string action(reinterpret_cast<const char*>(data), size);
    if (isRebootAction(action.c_str()) != (strstr(action.c_str(), "reboot") != nullptr))
        abort();
    return 0;
}
