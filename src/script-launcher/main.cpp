// script-launcher [-q]: runs queued memory actions and dropped action scripts once each.
#include "launcher.h"
#include "quietmode.h"

int main(int argc, char** argv)
{
    launcher::Settings settings;
    settings.quiet = quietMode(argc, argv);
    launcher::Launcher launcher(settings);
    launcher.start();
    launcher.run();
}
