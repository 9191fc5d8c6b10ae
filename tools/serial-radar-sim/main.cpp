// serial-radar-sim: the serial radar on a pseudo-terminal, to run vintor without hardware.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "numbers.h"

#include "radarsim.h"

static void usage(const char* prog) {
    fprintf(stderr,
            "usage: %s [-l linkfile] [-c control_fifo] [-d distance_cm] [-A amplitude] [-s sweeps]\n"
            "          [-n sweep_bytes] [-P piece_bytes] [-e] [-6]\n"
            " writes the slave tty path to linkfile (default /tmp/serial-radar-sim.tty); -e echoes every\n"
            " byte (RS-485), -6 marks the unit's version with '6' at index 53. Control lines on stdin or\n"
            " the FIFO: echo on|off alter junk split trail N oversize short silence resume noack C\n"
            " badcounter nothing pending N hangup\n",
            prog);
}

int main(int argc, char** argv) {
    RadarSimOptions o;
    std::string link = "/tmp/serial-radar-sim.tty", fifo;
    int c;
    bool numbers = true;
    while ((c = getopt(argc, argv, "l:c:d:A:s:n:P:e6h")) != -1) {
        switch (c) {
        case 'l': link = optarg; break;
        case 'c': fifo = optarg; break;
        case 'd': o.distanceCm = atof(optarg); break;
        case 'A': o.amplitude = atof(optarg); break;
        case 's': numbers &= parseWholeNumber(optarg, &o.sweeps); break;
        case 'n': numbers &= parseWholeNumber(optarg, &o.sweepBytes); break;
        case 'P': numbers &= parseWholeNumber(optarg, &o.pieceBytes); break;
        case 'e': o.echo = true; break;
        case '6': o.art16 = true; break;
        default: usage(argv[0]); return 1;
        }
    }
    if (!numbers || o.distanceCm <= 0 || o.sweeps < 1 || o.sweepBytes < 0 || o.sweepBytes > 65535 || o.pieceBytes < 1 ||
        o.pieceBytes > 1000) {
        usage(argv[0]);
        return 1;
    }
    RadarSim sim(o);
    return sim.serve("serial-radar-sim", link, fifo);
}
