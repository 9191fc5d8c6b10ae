// imu-calibrate as a whole program in a private namespace, on the recorded
// positions in data/ copied to /opt/pos1 .. /opt/pos6; its output must match
// data/expected.txt byte for byte (data/make-expected.py computes it apart).
#include "harness.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(ImuCalibrateProgram, PrintsTheRotationOfTheRecordedPositions)
{
    for (int k = 1; k <= 6; k++)
        writeFile("/opt/pos" + std::to_string(k), readFile(sourcePath("tests/imu-calibrate/data/pos" + std::to_string(k))));
    Finished f = runToEnd(IMU_CALIBRATE_BIN, {});
    EXPECT_EQ(f.code, 0);
    EXPECT_EQ(f.out, readFile(sourcePath("tests/imu-calibrate/data/expected.txt")));
}
