#include "heading.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::vector<std::string> split(const std::string& s, char separator)
{
    std::vector<std::string> fields(1);
    for (char c : s) {
        if (c == separator)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

float enuHeading(float h, float angle)
{
    float e = (90.0f - h) - angle;
    // Fully into [0, 360): a reference angle or a heading beyond one turn still
    // gives a compass bearing.
    e = std::fmod(e, 360.0f);
    if (e < 0.0f)
        e += 360.0f;
    if (e >= 360.0f)
        e -= 360.0f;
    return e;
}

namespace {

// A number at the front of the text as std::stof / std::stoll read it; false
// where those would throw (no number, out of range) or the value is not finite.
bool leadingFloat(const std::string& text, float* value)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    float v = strtof(begin, &end);
    if (end == begin || errno == ERANGE || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

bool leadingInteger(const std::string& text, int64_t* value)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE)
        return false;
    *value = v;
    return true;
}

} // namespace

bool readAngle(const std::string& text, float* angle)
{
    *angle = 0.0f;
    return leadingFloat(text, angle);
}

void applyHeadingMessage(const std::string& text, float angle, HeadingState* state)
{
    for (const std::string& piece : split(text, ';')) {
        size_t eq = piece.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = piece.substr(0, eq);
        std::string value = piece.substr(eq + 1);
        if (key == "time") {
            leadingInteger(value, &state->gpstimestamp);
        } else if (key == "sensor") {
            state->sensor = value;
        } else if (key == "heading") {
            size_t deg = value.find("deg");
            if (deg != std::string::npos)
                value.erase(deg, 3);
            float h = 0.0f;
            if (!leadingFloat(value, &h))
                continue;
            char printed[64];
            snprintf(printed, sizeof printed, "%f", static_cast<double>(enuHeading(h, angle)));
            state->realheadingENUDeg = printed;
        }
    }
}

bool adjustLine(const char* line, size_t length, const std::string& heading, std::string* out)
{
    length = length > 0 ? strnlen(line, length) : 0;
    // Where fields 4, 5 and 7 begin: after the 4th, 5th and 7th commas.
    size_t commas[7];
    size_t found = 0;
    for (size_t i = 0; i < length && found < 7; i++)
        if (line[i] == ',')
            commas[found++] = i;
    if (found < 6)
        return false;
    size_t end = found == 7 ? commas[6] : length;
    out->assign(line, commas[3] + 1);
    out->append(heading);
    out->append(line + commas[4], end - commas[4]);
    return true;
}
