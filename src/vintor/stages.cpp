#include "stages.h"

#include <sys/prctl.h>

#include <memory>

#include "fft.h"
#include "h.h"
#include "housekeeping.h"
#include "peak.h"
#include "radars.h"
#include "subscriptions.h"
#include "telnet.h"
#include "udp.h"

namespace {

// The receive address is stored only: the listener binds "vintor"/"portnumber".
void udpStage(ConfigFile* cf) {
    UDP udp(cf);
    udp.setReceiveParameters("0.0.0.0", 3001);
    udp.listen();
}

void radarsStage(ConfigFile* cf) { RadarsClass(cf).process(); }

void fftStage(ConfigFile* cf) {
    // The stage pauses 10 us per sweep; with the default 50 us of timer slack
    // each pause would last about 80 us.
    prctl(PR_SET_TIMERSLACK, 1000UL);
    // Large working storage: keep it off the stack.
    std::unique_ptr<FFTClass> stage(new FFTClass(cf));
    stage->generateFFT();
}

void peakStage(ConfigFile* cf) { PeakClass(cf).generatePeak(); }

void subscriptionsStage(ConfigFile* cf) { SubscriptionsClass(cf).process(); }

void housekeepingStage(ConfigFile* cf) { HousekeepingClass(cf).process(); }

void heaveStage(ConfigFile* cf) { HClass(cf).process(); }

void telnetStage(ConfigFile* cf) { TelnetClass(cf).process(); }

}  // namespace

const StageTable& vintorStages() {
    static const StageTable table = {
        {"udp", "start udp", "vintorUDP", udpStage, "Error child FetchSerialData returned",
         "\nStarting UDP listner", "\nUDP pid=%d"},
        {"radars", "start radars", "VintorRadars", radarsStage, "Error child FetchSerialData returned",
         "\nStarting Radars Class", "\nRadars pid=%d"},
        {"fft", "start fft", "vintorFFT", fftStage, "Error child FFT class returned", "\nStarting FFT Class",
         "\nFFT pid=%d"},
        {"peak", "start peak", "vintorPeak", peakStage, "Error child Peak class returned",
         "\nStarting Peak Class", "\nPeak pid=%d"},
        {"subscriptions", "start subscriptions", "vintorSubscriptions", subscriptionsStage,
         "Error child Subscriptions class returned", "\nStarting Subscriptions Class", "\nSubscriptions pid=%d"},
        {"housekeeping", "start housekeeping", "vintorHousekeeping", housekeepingStage,
         "Error child Housekeeping class returned", "\nStarting Housekeeping Class", "\nHousekeeping pid=%d"},
        {"heave", "start heave", "vintorHeave", heaveStage, "Error child H class returned", "\nStarting H Class",
         "\nHeave pid=%d"},
        {"telnet", "start telnet", "vintorTelnet", telnetStage, "Error child Telnet class returned",
         "\nStarting Telnet Class", "\nTelnet pid=%d"},
    };
    return table;
}
