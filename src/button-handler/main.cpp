// button-handler [-q]: runs the configured commands for presses of the push button.
#include "quietmode.h"
#include "service.h"

int main(int argc, char** argv)
{
    button::Settings settings;
    settings.quiet = quietMode(argc, argv);
    return button::runButtonHandler(settings);
}
