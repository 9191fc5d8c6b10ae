// board-sim: a radar board on a pseudo-terminal, for tests and bench work without hardware.
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "numbers.h"

#include "boardsim.h"

static void usage(const char* prog)
{
    fprintf(stderr,
            "USAGE: %s [-l linkfile] [-p period_ms] [-s step_ms] [-a answer_bytes] [-t tone_cycles] [-c control_fifo]\n"
            " writes the slave tty path to linkfile (default /tmp/board-sim.tty);\n"
            " control lines on stdin or the FIFO: garbage badcheck orphan split lineend tick silence resume hangup\n",
            prog);
}

int main(int argc, char** argv)
{
    SimOptions o;
    int c;
    bool numbers = true;
    while ((c = getopt(argc, argv, "l:p:s:a:t:c:h")) != -1) {
        switch (c) {
        case 'l': o.linkFile = optarg; break;
        case 'p': numbers &= parseWholeNumber(optarg, &o.periodMs); break;
        case 's': numbers &= parseWholeNumber(optarg, &o.stepMs); break;
        case 'a': numbers &= parseWholeNumber(optarg, &o.answerBytes); break;
        case 't': o.toneCycles = atof(optarg); break;
        case 'c': o.controlFile = optarg; break;
        default: usage(argv[0]); return 1;
        }
    }
    if (!numbers || o.periodMs <= 0 || o.answerBytes < 0) {
        usage(argv[0]);
        return 1;
    }
    return runBoardSim(o);
}
