#include "signalhandler.h"

#include "signalsafe.h"

#include <unistd.h>

#include <cstring>

volatile sig_atomic_t stop = 0;

void signalHandler(int signum)
{
    char line[64] = "Interrupt signal (";
    size_t pos = strlen(line);
    pos += signalsafe::appendInt(line + pos, signum);
    memcpy(line + pos, ") received.\n", 12);
    pos += 12;
    signalsafe::writeAll(STDOUT_FILENO, line, pos);
    stop = 1;
}
