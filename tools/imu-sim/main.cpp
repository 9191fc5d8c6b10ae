// imu-sim: an IMU on a pseudo-terminal, for tests and bench work without one.
#include "imusim.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static void usage(const char* prog)
{
    fprintf(stderr,
            "USAGE: %s [-l link] [-S] [-L dataline] [-p group,param=value]... [-c control_fifo]\n"
            " -l makes link point at the terminal; -S streams from power-up\n"
            " control lines on stdin or the FIFO: silence resume silent-for N refuse <prefix> noeol\n"
            " reply <text> badlist param <key>=<value> line <text> tail N emit hangup\n",
            prog);
}

int main(int argc, char** argv)
{
    ImuSimOptions o;
    o.echo = true;
    std::string fifo;
    int c;
    while ((c = getopt(argc, argv, "l:SL:p:c:h")) != -1) {
        switch (c) {
        case 'l': o.linkPath = optarg; break;
        case 'S': o.streaming = true; break;
        case 'L': o.line = optarg; break;
        case 'p': {
            const char* eq = strchr(optarg, '=');
            if (eq == nullptr) {
                usage(argv[0]);
                return 1;
            }
            o.params[std::string(optarg, static_cast<size_t>(eq - optarg))] = eq + 1;
            break;
        }
        case 'c': fifo = optarg; break;
        default: usage(argv[0]); return 1;
        }
    }
    ImuSim sim(o);
    if (!sim.open()) {
        perror("imu-sim: no pseudo-terminal");
        return 2;
    }
    // O_RDWR keeps the FIFO open while writers come and go.
    int control = fifo.empty() ? STDIN_FILENO : open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    if (control < 0) {
        perror(fifo.c_str());
        return 2;
    }
    printf("imu-sim ready %s\n", sim.tty().c_str());
    fflush(stdout);
    sim.run(control);
    return 0;
}
