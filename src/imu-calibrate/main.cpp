// imu-calibrate: the IMU's mounting rotation and its roll, pitch and yaw from
// the six position recordings /opt/pos1 .. /opt/pos6.
#include "calibrate.h"

#include <iostream>

int main()
{
    return runCalibration("/opt/pos", std::cout);
}
