// feed-listen [-a <ip>] [-p <portnr>] [-m <module>] [-o <publisher>] [-t <waits>]
// [-n <count>] [-q]: prints any feed of the station, records decoded.
#include "cmdline.h"
#include "handler.h"
#include "listen.h"

#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>

namespace {

void usage(const char* path)
{
    fprintf(stderr, "  -a <ip addres>   -> Ip address of a remote system (ipv6 is also possible)\n");
    fprintf(stderr, "  -p <portnumber>  -> configuration portnr\n");
    fprintf(stderr, "  -m <modulename>  -> like vintor, tarnix-pic32, brim\n");
    fprintf(stderr, "  -o <publishername>  -> like raw, vintor, fft, h\n");
    fprintf(stderr, "  -t <timeout>  -> (s) defaults to 10s\n");
    fprintf(stderr, "  -n <number of lines>  -> fetch a number of lines and then stop, (-1 infinite)\n");
    fprintf(stderr, "  -q               -> quiet\n\n");
    fprintf(stderr, "Use: %s -m <module name> -o <publisher type>\n", path);
    fprintf(stderr, " bv: %s -m tarnix-pic32 -o rawdata-pub\n", path);
    fprintf(stderr, " bv: %s -m vintor -o vintor [-a <ip>]\n", path);
    fprintf(stderr, " bv: %s -m vintor -o fft -n 2 \n", path);
    fprintf(stderr, "\n");
}

} // namespace

int main(int argc, char** argv)
{
    signal(SIGSEGV, handler);
    ListenOptions o;
    o.program = argv[0];
    opterr = 0;
    int c;
    while ((c = getopt(argc, argv, "m:o:t:p:a:qn:")) != -1) {
        switch (c) {
        case 'm':
            o.module = optarg;
            break;
        case 'o':
            o.publisher = optarg;
            break;
        case 'a':
            o.address = optarg;
            break;
        case 'q':
            o.quiet = true;
            break;
        case 't':
            if (!numberOption(c, optarg, LONG_MIN, LONG_MAX, &o.timeout))
                return 1;
            break;
        case 'n':
            if (!numberOption(c, optarg, LONG_MIN, LONG_MAX, &o.count))
                return 1;
            break;
        case 'p':
            if (!portOption(c, optarg, &o.port))
                return 1;
            break;
        default:
            reportBadOption(optopt);
            usage(argv[0]);
            return 1;
        }
    }
    return runListen(o);
}
