// Any bytes as a GPS heading message and as an IMU line: the heading stays "NaN"
// or a bearing in [0, 360), and a line that is sent has exactly seven fields.
#include "heading.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    float angle = size > 0 ? static_cast<float>(data[0]) - 128.0f : 0.0f;
    HeadingState state;
    applyHeadingMessage(text, angle, &state);
    if (state.realheadingENUDeg != "NaN") {
        char* end = nullptr;
        double v = strtod(state.realheadingENUDeg.c_str(), &end);
        if (*end != '\0' || !(v >= 0.0 && v < 360.0))
            abort();
    }
    std::string out;
    if (adjustLine(text.data(), text.size(), state.realheadingENUDeg, &out)) {
        size_t commas = 0;
        for (char c : out)
            commas += c == ',';
        if (commas != 6 || out.find('\0') != std::string::npos)
            abort();
    }
    return 0;
}
