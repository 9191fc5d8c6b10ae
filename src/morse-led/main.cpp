// morse-led [-q]: blinks /tmp/morselines.txt in Morse code on the status LED.
#include <cstdio>
#include <cstring>

#include "morse.h"

int main(int argc, char** argv)
{
    const char* name = argc > 0 && argv[0] ? argv[0] : "morse-led";
    morse::Settings settings;
    if (argc > 1 && strcmp(argv[1], "-q") == 0) {
        settings.quiet = true;
    } else {
        fprintf(stderr, "Use: %s -<mode>\n", name);
        fprintf(stderr, " bv: %s -q\n", name);
        fprintf(stderr, "\n");
        fprintf(stderr, "Mode -q quiet\n");
        fprintf(stderr, "\n");
        printf("\nStarting GPIO input program\n");
        fflush(stdout);
    }
    morse::Blinker blinker(settings, morse::systemIo());
    blinker.run();
}
