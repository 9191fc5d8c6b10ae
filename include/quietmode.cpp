#include "quietmode.h"

#include <cstdio>
#include <cstring>

bool quietMode(int argc, char** argv)
{
    if (argc > 1 && strcmp(argv[1], "-q") == 0)
        return true;
    const char* name = argc > 0 && argv[0] ? argv[0] : "";
    fprintf(stderr, "Use: %s -<mode>\n", name);
    fprintf(stderr, " bv: %s -q\n", name);
    fprintf(stderr, "\n");
    fprintf(stderr, "Mode -q quiet\n");
    fprintf(stderr, "\n");
    return false;
}
