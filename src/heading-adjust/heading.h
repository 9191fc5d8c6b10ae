// The texts heading-adjust reads and writes: GPS heading messages in, seven-field
// IMU lines whose heading field is replaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Fields between separators; n separators give n + 1 fields, empty ones kept.
std::vector<std::string> split(const std::string& s, char separator);

// East-north-up heading of a GPS heading h (degrees clockwise from north) for a
// radar x axis at angle from the heading reference, in [0, 360).
float enuHeading(float h, float angle);

// What the worker knows of the GPS compass.
struct HeadingState {
    std::string realheadingENUDeg = "NaN"; // as printed into the lines
    int64_t gpstimestamp = 0;
    std::string sensor;
};

// Takes one message "time=<t>;sensor=<s>;heading=<deg>deg". A piece whose value
// is not a number is skipped and the last value kept.
void applyHeadingMessage(const std::string& text, float angle, HeadingState* state);

// The line (up to its first NUL) with field 4 replaced by heading and the
// fields after the seventh dropped, into *out; false for fewer than seven fields.
bool adjustLine(const char* line, size_t length, const std::string& heading, std::string* out);

// An angle text read as a float; false (and 0) when it is not a number.
bool readAngle(const std::string& text, float* angle);
