// button-handler [-q]: runs the configured commands for presses of the push button.
#include <cstdio>
#include <cstring>

#include "service.h"

int main(int argc, char** argv)
{
    const char* name = argc > 0 && argv[0] ? argv[0] : "button-handler";
    button::Settings settings;
    if (argc > 1 && strcmp(argv[1], "-q") == 0) {
        settings.quiet = true;
    } else {
        fprintf(stderr, "Use: %s -<mode>\n", name);
        fprintf(stderr, " bv: %s -q\n", name);
        fprintf(stderr, "\n");
        fprintf(stderr, "Mode -q quiet\n");
        fprintf(stderr, "\n");
    }
    return button::runButtonHandler(settings);
}
