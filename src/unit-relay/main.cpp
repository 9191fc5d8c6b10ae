// unit-relay [-c <ip>:<port>] [-q]: remote radar units' feeds, found by serial
// number, republished on local ports.
#include <errno.h>

#include "unitrelay.h"

int main(int argc, char** argv)
{
    return runUnitRelay(argc, argv, program_invocation_short_name);
}
