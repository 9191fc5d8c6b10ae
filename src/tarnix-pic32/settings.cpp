#include "settings.h"

#include "numbers.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

const char* const TARNIX_REQUEST = "{\"get\":{\"tarnix-pic32\":\"\",\"general\":\"\",\"radar\":\"\"}}";

namespace {

const Json::Value& member(const Json::Value& obj, const char* name)
{
    static const Json::Value none;
    if (!obj.isObject() || !obj.isMember(name)) return none;
    return obj[name];
}

// A value as text, `def` when absent; objects and arrays have no text.
std::string text(const Json::Value& obj, const char* name, const char* def)
{
    if (!obj.isObject() || !obj.isMember(name)) return def;
    const Json::Value& v = obj[name];
    if (v.isObject() || v.isArray()) return "";
    if (v.isNull()) return def;
    return v.asString();
}

long long toLong(const std::string& s)
{
    return strtoll(s.c_str(), nullptr, 10);
}

int toInt(const std::string& s)
{
    long long v = toLong(s);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

} // namespace

TarnixSettings readSettings(const Json::Value& reply)
{
    TarnixSettings s;
    const Json::Value& success = member(reply, "success");
    const Json::Value& general = member(success, "general");
    const Json::Value& radar = member(success, "radar");
    const Json::Value& own = member(success, "tarnix-pic32");
    const Json::Value& publishers = member(own, "publishers");

    s.speedText = text(general, "speed", "0");
    s.speed = general.isObject() ? toInt(s.speedText) : 0;
    s.offset = radar.isObject() ? toLong(text(radar, "timeoffset", "0")) : 0;
    s.sweepsize = radar.isObject() ? toInt(text(radar, "sweepsize", "256")) : 0;
    // Without the section or its group the default port holds, as for a missing key.
    s.rawdataPubText = text(publishers, "rawdata-pub", "5020");
    if (!parsePortNumber(s.rawdataPubText.c_str(), &s.rawdata_pub)) s.rawdata_pub = 0;
    s.script = text(own, "detectUSBDevice", "");
    return s;
}
