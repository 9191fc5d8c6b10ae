// Builds vintor's board front-end once against the configuration service on the
// given port and ends with 42; its failures end the process as they would end a radar process.
#include <cstdio>
#include <cstdlib>

#include "configfile.h"
#include "tarnixclass.h"

int main(int argc, char** argv)
{
    ConfigFile cf(argc > 1 ? atoi(argv[1]) : 0, 0);
    TarnixClass board(&cf, "radar0", 1.0);
    fflush(stdout);
    return 42;
}
