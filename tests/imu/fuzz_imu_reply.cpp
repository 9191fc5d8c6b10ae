// An IMU reply of any bytes: the value, identity answer and bracketed list are
// cut out without reading outside the reply, and what comes out is part of it.
#include "imulink.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string reply(reinterpret_cast<const char*>(data), size);
    std::string value;
    if (imureply::valueOf(reply, &value)) {
        if (value.size() > reply.size() || value.find_first_of("\r\n") != std::string::npos)
            abort();
    }
    const std::string info = imureply::infoOf(reply);
    if (info != "Error" && (info.size() > reply.size() || reply.compare(reply.size() - info.size(), info.size(), info) != 0))
        abort();
    // n numbers need n words, blanks between them and the two list ends.
    float values[6];
    for (size_t n : {3, 6})
        if (imureply::listOf(reply, static_cast<int>(n), values) &&
            (!imureply::valueOf(reply, &value) || value.size() < 2 + 2 * n - 1))
            abort();
    return 0;
}
