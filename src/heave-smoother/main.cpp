// heave-smoother [-c <ip>:<portnr>] [-q] [-h]: resamples a five-field line stream
// onto a 100 ms grid, filters its heave and publishes the delayed result.
#include "cmdline.h"
#include "service.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

void usage(const char* path, int option)
{
    fprintf(stderr, "%s will fetch zmq messages and presents them local.\n", path);
    fprintf(stderr, "Unknown option `-%c'.\n", option);
    fprintf(stderr, "  -c <ip>:<portnr>\t\t-> configurator portnumber; defaults to 127.0.0.1:5010\n");
    fprintf(stderr, "  -h\t\t-> This help page\n");
    fprintf(stderr, "  -q\t\t\t-> quiet\n\n");
    fprintf(stderr, "Use: %s -c 127.0.0.1:5010\n", path);
    fprintf(stderr, "\n");
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    SmootherOptions o;
    o.name = programName(argv[0]);
    opterr = 0;
    int c;
    while ((c = getopt(argc, argv, ":c:qh")) != -1) {
        if (c == 'c') {
            o.address = optarg;
        } else if (c == 'q') {
            o.quiet = true;
        } else {
            usage(argv[0], c == 'h' ? 'h' : optopt);
            return 1;
        }
    }
    return runSmoother(o);
}
