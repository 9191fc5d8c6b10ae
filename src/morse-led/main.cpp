// morse-led [-q]: blinks /tmp/morselines.txt in Morse code on the status LED.
#include <cstdio>

#include "morse.h"
#include "quietmode.h"

int main(int argc, char** argv)
{
    morse::Settings settings;
    settings.quiet = quietMode(argc, argv);
    if (!settings.quiet) {
        printf("\nStarting GPIO input program\n");
        fflush(stdout);
    }
    morse::Blinker blinker(settings, morse::systemIo());
    blinker.run();
}
