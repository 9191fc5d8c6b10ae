// sivers-sim: a Sivers IMA radar module on a pseudo-terminal, to run vintor without hardware.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "numbers.h"

#include "siverssim.h"

static void usage(const char* prog) {
    fprintf(stderr,
            "usage: %s [-l linkfile] [-c control_fifo] [-d distance_cm] [-A amplitude] [-p points]\n"
            " writes the slave tty path to linkfile (default /tmp/sivers-sim.tty). Control lines on stdin\n"
            " or the FIFO: refuse TEXT accept split noend longline N many N silence resume hangup\n",
            prog);
}

int main(int argc, char** argv) {
    SiversSimOptions o;
    std::string link = "/tmp/sivers-sim.tty", fifo;
    int c;
    bool numbers = true;
    while ((c = getopt(argc, argv, "l:c:d:A:p:h")) != -1) {
        switch (c) {
        case 'l': link = optarg; break;
        case 'c': fifo = optarg; break;
        case 'd': o.distanceCm = atof(optarg); break;
        case 'A': o.amplitude = atof(optarg); break;
        case 'p': numbers &= parseWholeNumber(optarg, &o.points); break;
        default: usage(argv[0]); return 1;
        }
    }
    if (!numbers || o.distanceCm <= 0 || o.points < 1 || o.points > 100000) {
        usage(argv[0]);
        return 1;
    }
    SiversSim sim(o);
    return sim.serve("sivers-sim", link, fifo);
}
