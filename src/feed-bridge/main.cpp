// feed-bridge [-c <ip>:<port> | -d] [-s <ip>:<port>] [-p <port>] [-q]: one feed
// relayed whole to a local publisher.
#include <errno.h>

#include "feedbridge.h"

int main(int argc, char** argv)
{
    return runFeedBridge(argc, argv, program_invocation_short_name);
}
