// The mounting tilt from raw IMU lines: parsing a line, the sums over one
// window, and the settings and texts of the configuration exchange.
#pragma once

#include <string>

// "time,x,y,z": exactly four fields, the time an integer and x, y, z floats
// (leading numbers as stoll and stof read them). False for anything else,
// including a number out of range.
bool parseRawImuLine(const std::string& line, long long* time, float* x, float* y, float* z);

// Angles of one vector, in radians: tilt from the y axis, and each axis angle.
struct TiltSample {
    float tilt, tiltX, tiltY, tiltZ;
};

// Float sums of the angles over one window.
class TiltAverage {
public:
    TiltSample add(float x, float y, float z);

    unsigned count = 0;
    float sumTilt = 0, sumX = 0, sumY = 0, sumZ = 0;
};

// Mean in degrees of a sum of radians, rounded to 0.1 degree; NaN when count is 0.
float meanDegrees(float sum, unsigned count);
// Rounded half away from zero to one decimal.
float roundTenth(float degrees);

// "%f" of a value, "nan" for every NaN whatever its sign bit.
std::string formatTilt(float value);

struct TiltSettings {
    std::string fileNameFast, fileNameLong, rawImuPort;
};

enum class SettingsReply { Ok, NotJson, NotFound };

// Settings from the reply to tiltSettingsRequest(name): a reply without a
// "success" object is NotFound; a missing section or key gives the default
// file name or port.
SettingsReply readTiltSettings(const std::string& reply, const std::string& name, const std::string& defaultFile,
                               TiltSettings* settings);

// {"get":{"<name>":"","RTIMULibDrive":""}}, members in that order.
std::string tiltSettingsRequest(const std::string& name);
// {"setmem":{"system":{"tilt":{"<member>":"<value>"}}}}.
std::string tiltStoreRequest(const std::string& member, float value);
