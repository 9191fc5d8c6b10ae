// imu-calibrate: the position file parser, and the output for files in a
// temporary directory.
#include "calibrate.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace testsupport;

namespace {

TEST(ImuCalibrate, PositionLinesFillXYAndZAndReportExtraValues)
{
    const struct {
        const char* text;
        std::vector<double> x, y, z;
        int errors;
    } rows[] = {
        {"1,2,3\n4.5,-5,6e-1", {1, 4.5}, {2, -5}, {3, 0.6}, 0},
        {"1,2,3,4,5\n", {1}, {2}, {3}, 2},
        {"1,2\n", {1}, {2}, {}, 0},
        {"\n\n", {}, {}, {}, 0},
        {"a,,3\n", {0}, {0}, {3}, 0},
    };
    for (const auto& r : rows) {
        std::istringstream in(r.text);
        std::ostringstream out;
        PositionSamples p = readPositions(in, out);
        EXPECT_EQ(p.x, r.x) << r.text;
        EXPECT_EQ(p.y, r.y) << r.text;
        EXPECT_EQ(p.z, r.z) << r.text;
        std::string errors;
        for (int i = 0; i < r.errors; i++)
            errors += "Error Parsing\n";
        EXPECT_EQ(out.str(), errors);
    }
}

class ImuCalibratePositions : public ::testing::Test {
protected:
    void write(int k, const std::string& text) { writeFile(dir.file("pos") + std::to_string(k), text); }
    std::string run()
    {
        std::ostringstream out;
        EXPECT_EQ(runCalibration(dir.file("pos"), out), 0);
        return out.str();
    }
    TempDir dir;
};

TEST_F(ImuCalibratePositions, AMissingFileStopsWithTheRecordingHint)
{
    for (int k = 1; k <= 5; k++)
        write(k, "garbage");
    EXPECT_EQ(run(), "Error: Files missing\nRun /opt/kestrom/scripts/imu-calibration.sh\n");
}

TEST_F(ImuCalibratePositions, MeansAlongTheAxesGiveTheIdentity)
{
    const char* means[] = {"-1,0,0\n", "-1,0,0\n", "0,-1,0\n", "0,-1,0\n", "0,0,-1\n", "0,0,-1\n"};
    for (int k = 1; k <= 6; k++)
        write(k, means[k - 1]);
    std::string out = run();
    EXPECT_EQ(out.substr(0, 41), "Rotation Matrix:\n1 0 0\n0 1 0\n0 0 1\n\nMean_");
    // Pitch is atan2(-0, 1).
    EXPECT_EQ(out.substr(out.size() - 25), "Roll=\n0\nPitch=\n-0\nYaw=\n0\n");
}

TEST_F(ImuCalibratePositions, AnEmptyFileGivesNanWithoutAFault)
{
    for (int k = 1; k <= 6; k++)
        write(k, k == 3 ? "" : "0,0,-1\n");
    std::string out = run();
    EXPECT_NE(out.find("SD_pos3=\nnan\nnan\nnan\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Roll=\n"), std::string::npos);
}

} // namespace
