// imu-reader [-s] [-v level]: configures the IMU and publishes its lines.
#include "cmdline.h"
#include "reader.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    ReaderOptions o;
    int c;
    while ((c = getopt(argc, argv, "sv:")) != -1) {
        switch (c) {
        case 's':
            o.saveEnabled = true;
            break;
        case 'v':
            o.verbose = strtol(optarg, nullptr, 10) != 0;
            break;
        default:
            fprintf(stderr, "Usage: %s -s \t  -> Save option enabled to the IMU\n", argv[0]);
            fprintf(stderr, "  -s     -> Save option enabled to the IMU; default off\n");
            fprintf(stderr, "  -v1     -> Verbose <level> \n");
            return 1;
        }
    }
    o.progname = programName(argv[0]);
    // Tests shorten every wait of the IMU link by this factor.
    if (const char* scale = getenv("IMU_READER_WAIT_SCALE")) {
        double f = strtod(scale, nullptr);
        if (f > 0 && f <= 1)
            o.waits = o.waits.scaled(f);
    }
    return runImuReader(o);
}
