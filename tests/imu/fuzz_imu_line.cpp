// An IMU data line or an action message of any bytes: a line is accepted only
// with the unit's first character and ten fields, and its feed texts always fit
// their buffers whole.
#include "reader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

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
