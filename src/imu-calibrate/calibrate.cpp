#include "calibrate.h"

#include <Eigen/Dense>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

double mean(const std::vector<double>& v)
{
    if (v.empty())
        return 0;
    double sum = 0;
    for (double d : v)
        sum += d;
    return sum / static_cast<double>(v.size());
}

double sd(const std::vector<double>& v)
{
    if (v.empty())
        return NAN;
    double m = mean(v);
    double sum = 0;
    for (double d : v)
        sum += (d - m) * (d - m);
    return std::sqrt(sum / static_cast<double>(v.size()));
}

} // namespace

double PositionSamples::meanX() const { return mean(x); }
double PositionSamples::meanY() const { return mean(y); }
double PositionSamples::meanZ() const { return mean(z); }
double PositionSamples::sdX() const { return sd(x); }
double PositionSamples::sdY() const { return sd(y); }
double PositionSamples::sdZ() const { return sd(z); }

double PositionSamples::meanNorm() const
{
    double mx = meanX(), my = meanY(), mz = meanZ();
    return std::sqrt(mx * mx + my * my + mz * mz);
}

bool fileReadable(const std::string& path)
{
    std::ifstream in(path);
    return in.good();
}

PositionSamples readPositions(std::istream& in, std::ostream& out)
{
    PositionSamples p;
    std::vector<double>* axes[] = {&p.x, &p.y, &p.z};
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream pieces(line);
        std::string piece;
        for (int i = 0; std::getline(pieces, piece, ','); i++) {
            if (i < 3)
                axes[i]->push_back(strtod(piece.c_str(), nullptr));
            else
                out << "Error Parsing\n";
        }
    }
    return p;
}

PositionSamples readPositionFile(const std::string& path, std::ostream& out)
{
    std::ifstream in(path);
    return readPositions(in, out);
}

int runCalibration(const std::string& prefix, std::ostream& out)
{
    for (int k = 1; k <= 6; k++) {
        if (!fileReadable(prefix + std::to_string(k))) {
            out << "Error: Files missing\n"
                << "Run /opt/kestrom/scripts/imu-calibration.sh\n";
            return 0;
        }
    }
    Eigen::Vector3d m[6], s[6], u[6];
    double n[6];
    for (int k = 0; k < 6; k++) {
        PositionSamples p = readPositionFile(prefix + std::to_string(k + 1), out);
        m[k] << p.meanX(), p.meanY(), p.meanZ();
        n[k] = p.meanNorm();
        s[k] << p.sdX() / n[k], p.sdY() / n[k], p.sdZ() / n[k];
        // Taken from zero rather than negated, so a zero mean stays +0 and an
        // exact identity prints as one.
        u[k] = (Eigen::Vector3d::Zero() - m[k]) / n[k];
    }
    // Odd positions make A, even ones B: one recording per direction of each axis.
    Eigen::Matrix3d A, B;
    A << u[0].x(), u[2].x(), u[4].x(), u[0].y(), u[2].y(), u[4].y(), u[0].z(), u[2].z(), u[4].z();
    B << u[1].x(), u[3].x(), u[5].x(), u[1].y(), u[3].y(), u[5].y(), u[1].z(), u[3].z(), u[5].z();
    Eigen::Matrix3d R = (A + B) / 2.0;

    auto degrees = [](double radians) { return radians * 180 / 3.141592653589793; };
    double roll = degrees(std::atan2(R(1, 2), R(2, 2)));
    double pitch = degrees(std::atan2(-R(0, 2), std::sqrt(R(2, 2) * R(2, 2) + R(1, 2) * R(1, 2))));
    double yaw = degrees(std::atan2(R(0, 1), R(0, 0)));

    out << "Rotation Matrix:\n" << R << "\n\n";
    for (int k = 0; k < 6; k++)
        out << "Mean_pos" << k + 1 << "=\n" << m[k] << "\n";
    for (int k = 0; k < 6; k++)
        out << "SD_pos" << k + 1 << "=\n" << s[k] << "\n";
    out << "norm\n";
    for (int k = 0; k < 6; k++)
        out << n[k] << "\n";
    out << "Roll=\n" << roll << "\nPitch=\n" << pitch << "\nYaw=\n" << yaw << "\n";
    return 0;
}
