// Outside input of tilt-average: a raw IMU line (first byte even) or a
// configuration reply (odd). Neither may crash or throw; a taken line has
// exactly four fields, and a reply that is taken sets every setting.
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
    // Read over two different starting values: a setting left unset keeps
    // the one it had, where a reply may well hold any text.
    TiltSettings a, b;
    a.fileNameFast = a.fileNameLong = a.rawImuPort = "unset";
    b.fileNameFast = b.fileNameLong = b.rawImuPort = "left over";
    const SettingsReply r = readTiltSettings(text, "tilt-average", "/d", &a);
    if (readTiltSettings(text, "tilt-average", "/d", &b) != r)
        abort();
    if (r == SettingsReply::Ok &&
        (a.fileNameFast != b.fileNameFast || a.fileNameLong != b.fileNameLong || a.rawImuPort != b.rawImuPort))
        abort();
    return 0;
}
