// tilt-average [-c <portnr>] [-t f|l] [-q]: averages the mounting tilt over 3 s
// (fast) or 60 s (long) of the raw IMU feed and stores it.
#include "cmdline.h"
#include "service.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

void usage(const char* path, int option)
{
    fprintf(stderr, "Unknown option `-%c'.\n", option);
    fprintf(stderr, "  -c <portnr>    -> configurator portnumber; defaults to 5010\n\n");
    fprintf(stderr, "  -t <f/l>       -> type of calculation f=fast l=long\n");
    fprintf(stderr, "  -q             -> quiet\n\n");
    fprintf(stderr, "Use: %s -t <type>\n", path);
    fprintf(stderr, " bv: %s -t f\n", path);
    fprintf(stderr, " bv: %s -t l -q\n", path);
    fprintf(stderr, "\n");
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    TiltOptions o;
    o.name = programName(argv[0]);
    opterr = 0;
    int c;
    while ((c = getopt(argc, argv, "c:qt:")) != -1) {
        if (c == 'c') {
            if (!portOption(c, optarg, &o.port))
                return 1;
        } else if (c == 't') {
            o.type = optarg[0];
        } else if (c == 'q') {
            o.quiet = true;
        } else {
            usage(argv[0], optopt);
            return 1;
        }
    }
    return runTiltAverage(o);
}
