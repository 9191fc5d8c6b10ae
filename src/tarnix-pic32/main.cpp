// tarnix-pic32 [-d|-q]: reads the station's radar board and publishes its sweep pairs.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "service.h"

namespace {

// A stop by the service manager is a normal end, as a change notice is.
void endOnTerm(int)
{
    _exit(0);
}

} // namespace

int main(int argc, char** argv)
{
    signal(SIGTERM, endOnTerm);
    TarnixOptions o;
    if (argc < 1 || argv[0] == nullptr) {
        fprintf(stderr, "USAGE: %s [-d|-q]\n\n -d : entering daemon mode\n -q : entering quiet mode\n", o.progname.c_str());
        return 1;
    }
    o.progname = argv[0];
    if (argc > 1) {
        if (strcmp(argv[1], "-d") == 0) o.daemon = o.quiet = true;
        else if (strcmp(argv[1], "-q") == 0) o.quiet = true;
    }
    return runTarnix(o);
}
