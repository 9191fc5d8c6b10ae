// heave-corrector [-q]: corrects the radar heave for the mounting's roll and pitch
// and adds the IMU heave. Any first argument makes it quiet.
#include "cmdline.h"
#include "service.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    CorrectorOptions o;
    o.name = programName(argv[0]);
    o.quiet = argc > 1;
    return runCorrector(o);
}
