// The IMU's mounting rotation from six resting positions: each position file's
// mean vector points against gravity, so the negated unit means of two opposite
// recordings per axis make the columns of the rotation matrix.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

// The samples of one position file; the axes may differ in length.
struct PositionSamples {
    std::vector<double> x, y, z;

    double meanX() const;
    double meanY() const;
    double meanZ() const;
    double meanNorm() const;
    // Population standard deviation; NaN for an axis without values.
    double sdX() const;
    double sdY() const;
    double sdZ() const;
};

// True when a file stream opens on the path.
bool fileReadable(const std::string& path);

// Lines of "x,y,z": the first three pieces go to x, y and z (strtod, so text
// that is no number reads 0); each further piece writes "Error Parsing" to out.
PositionSamples readPositions(std::istream& in, std::ostream& out);
// The same from a file; empty when it cannot be opened.
PositionSamples readPositionFile(const std::string& path, std::ostream& out);

// Reads <prefix>1 .. <prefix>6 and writes the rotation matrix, the statistics
// and roll, pitch and yaw in degrees to out; when a file is not readable, the
// two lines that say how to record them instead. Always 0.
int runCalibration(const std::string& prefix, std::ostream& out);
