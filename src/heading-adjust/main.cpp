// heading-adjust [-c <ip>:<port>] [-v[level]]: seven-field IMU lines republished
// with a heading in the east-north-up frame from a GPS compass.
#include <errno.h>

#include "headingadjust.h"

int main(int argc, char** argv)
{
    return runHeadingAdjust(argc, argv, program_invocation_short_name);
}
