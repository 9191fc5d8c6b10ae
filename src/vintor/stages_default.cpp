// Placeholders for stages that are not part of this build; a built stage's
// own definition replaces its placeholder at link time.
#include <cstdio>

#include "stages.h"

namespace {
void notBuilt(const char* stage) {
    printf("\n%s stage is not built into this program\n", stage);
    fflush(stdout);
}
}  // namespace

__attribute__((weak)) void udpStage(ConfigFile*) { notBuilt("udp"); }
__attribute__((weak)) void radarsStage(ConfigFile*) { notBuilt("radars"); }
__attribute__((weak)) void fftStage(ConfigFile*) { notBuilt("fft"); }
__attribute__((weak)) void peakStage(ConfigFile*) { notBuilt("peak"); }
__attribute__((weak)) void subscriptionsStage(ConfigFile*) { notBuilt("subscriptions"); }
__attribute__((weak)) void heaveStage(ConfigFile*) { notBuilt("heave"); }
__attribute__((weak)) void telnetStage(ConfigFile*) { notBuilt("telnet"); }
