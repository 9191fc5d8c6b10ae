// drift-mean [-c <ip>:<port> | -d] [-q]: 1-, 5- and 10-minute means of the
// radar's vertical Doppler velocity, published every minute.
#include <errno.h>

#include "driftmean.h"

int main(int argc, char** argv)
{
    return runDriftMean(argc, argv, program_invocation_short_name);
}
