// config-cli -j '<json>' [-a <ip>] [-t <s>] [-q]: one request to the
// configuration service on port 5010, the reply printed.
#include "cmdline.h"
#include "configcli.h"
#include "handler.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace {

void usage(const char* path)
{
    fprintf(stderr, "ERROR, No configurator portnumber or json\n");
    fprintf(stderr, "\t-a <ip addres>   -> Ip address of a remote system (ipv6 is also possible)\n");
    fprintf(stderr, "\t-j '{....}'      -> json input\n");
    fprintf(stderr, "\t-t               -> timeout; defaults to 10s\n");
    fprintf(stderr, "\t-q               -> json only output, easy parsing\n");
    fprintf(stderr, "Use: %s -j '<json>' [-a <ip>] [-j] \n", path);
    fprintf(stderr, " bv: %s -j '{\"set\":{\"vintor\":{\"height\":\"300\",\"angle\": \"10\"}}'\n", path);
    fprintf(stderr, " bv: %s -j '{\"get\":{\"vintor\":\"\"}}'\n", path);
    fprintf(stderr, " bv: %s -j '{\"get\":{\"vintor\":\"\"}}' -a \"fe80::1%%eth0\" -q\n", path);
    fprintf(stderr, "\n");
}

} // namespace

int main(int argc, char** argv)
{
    signal(SIGSEGV, handler);
    ConfigCliOptions o;
    opterr = 0;
    int c;
    while ((c = getopt(argc, argv, "t:j:a:q")) != -1) {
        switch (c) {
        case 'j':
            o.request = optarg;
            break;
        case 'a':
            o.address = optarg;
            break;
        case 'q':
            o.quiet = true;
            break;
        case 't':
            // Bounded so that the count of polls cannot overflow.
            if (!numberOption(c, optarg, -1000000, 1000000, &o.wait))
                return 1;
            break;
        default:
            reportBadOption(optopt);
            usage(argv[0]);
            return 1;
        }
    }
    return runConfigCli(o);
}
