#include "tilt.h"

#include "configclient.h"
#include "misc.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

bool parseRawImuLine(const std::string& line, long long* time, float* x, float* y, float* z)
{
    std::string text(line);
    std::vector<std::string> fields = explode(",", &text);
    if (fields.size() != 4)
        return false;
    try {
        *time = std::stoll(fields[0], nullptr, 10);
        *x = std::stof(fields[1]);
        *y = std::stof(fields[2]);
        *z = std::stof(fields[3]);
    } catch (const std::logic_error&) { // invalid_argument and out_of_range
        return false;
    }
    return true;
}

TiltSample TiltAverage::add(float x, float y, float z)
{
    double dx = x, dy = y, dz = z;
    double norm = std::sqrt(dx * dx + dy * dy + dz * dz);
    TiltSample s;
    s.tilt = static_cast<float>(std::acos(dy / norm));
    s.tiltX = static_cast<float>(std::asin(std::sqrt(dy * dy + dz * dz) / norm));
    s.tiltY = static_cast<float>(std::asin(std::sqrt(dx * dx + dz * dz) / norm));
    s.tiltZ = static_cast<float>(std::asin(std::sqrt(dx * dx + dy * dy) / norm));
    sumX += s.tiltX;
    sumY += s.tiltY;
    sumZ += s.tiltZ;
    sumTilt += s.tilt;
    count++;
    return s;
}

float meanDegrees(float sum, unsigned count)
{
    if (count == 0)
        return NAN;
    return roundTenth(static_cast<float>(sum / static_cast<float>(count) * 57.29577951308232));
}

float roundTenth(float degrees)
{
    return roundf(degrees * 10) / 10;
}

std::string formatTilt(float value)
{
    if (std::isnan(value))
        return "nan";
    char text[64];
    snprintf(text, sizeof text, "%f", value);
    return text;
}

namespace {

// A value as text: strings as they are, numbers and flags as jsoncpp writes
// them; objects, arrays and absent values give the fallback.
std::string textAt(const Json::Value& reply, const std::vector<std::string>& path, const std::string& fallback)
{
    const Json::Value* v = ConfigClient::at(reply, path);
    if (v == nullptr || !(v->isString() || v->isNumeric() || v->isBool()))
        return fallback;
    return v->asString();
}

} // namespace

SettingsReply readTiltSettings(const std::string& reply, const std::string& name, const std::string& defaultFile,
                               TiltSettings* settings)
{
    Json::Value root;
    std::string errors;
    if (!ConfigClient::parseReply(reply, &root, &errors))
        return SettingsReply::NotJson;
    const Json::Value* success = ConfigClient::at(root, {});
    if (success == nullptr || !success->isObject())
        return SettingsReply::NotFound;
    settings->fileNameFast = textAt(root, {name, "fileNameFast"}, defaultFile);
    settings->fileNameLong = textAt(root, {name, "fileNameLong"}, defaultFile);
    settings->rawImuPort = textAt(root, {"RTIMULibDrive", "publishers", "rawIMU-pub"}, "5060");
    return SettingsReply::Ok;
}

std::string tiltSettingsRequest(const std::string& name)
{
    return "{\"get\":{" + Json::valueToQuotedString(name.c_str()) + ":\"\",\"RTIMULibDrive\":\"\"}}";
}

std::string tiltStoreRequest(const std::string& member, float value)
{
    return "{\"setmem\":{\"system\":{\"tilt\":{\"" + member + "\":\"" + formatTilt(value) + "\"}}}}";
}
