// script-launcher [-q]: runs queued memory actions and dropped action scripts once each.
#include <cstdio>
#include <cstring>

#include "launcher.h"

int main(int argc, char** argv)
{
    const char* name = argc > 0 && argv[0] ? argv[0] : "script-launcher";
    launcher::Settings settings;
    if (argc > 1 && strcmp(argv[1], "-q") == 0) {
        settings.quiet = true;
    } else {
        fprintf(stderr, "Use: %s -<mode>\n", name);
        fprintf(stderr, " bv: %s -q\n", name);
        fprintf(stderr, "\n");
        fprintf(stderr, "Mode -q quiet\n");
        fprintf(stderr, "\n");
    }
    launcher::Launcher launcher(settings);
    launcher.start();
    launcher.run();
}
