// Outside input of tilt-average: a raw IMU line (first byte even) or a
// configuration reply (odd). Neither may crash or throw; a taken line has
// exactly four fields, and settings taken from a reply are never left unset.
#include "tilt.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0) {
        // A line reaches the parser as a C text.
        text = text.substr(0, text.find('\0'));
        long long t;
        float x, y, z;
        if (parseRawImuLine(text, &t, &x, &y, &z) && std::count(text.begin(), text.end(), ',') != 3)
            abort();
        return 0;
    }
    TiltSettings s;
    s.fileNameFast = s.fileNameLong = s.rawImuPort = "unset";
    SettingsReply r = readTiltSettings(text, "tilt-average", "/d", &s);
    if (r == SettingsReply::Ok && (s.fileNameFast == "unset" || s.fileNameLong == "unset" || s.rawImuPort == "unset"))
        abort();
    return 0;
}
