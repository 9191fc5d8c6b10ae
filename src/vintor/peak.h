// Peak stage: finds the reflection peaks of every spectrum record of ring "f"
// and stores them as a peak record in ring "p" and on feed "peak".
#pragma once

#include <vector>

#include "defaults.h"
#include "records.h"
#include "sectionsettings.h"
#include "stageloop.h"

class ConfigFile;
class SharedMem;

class PeakClass : private ChainStage {
public:
    ConfigFile* cf;
    int debug = 0;
    SectionSettings settings;  // of the record being handled

    // Settings of the stage, read at start.
    int noiseLevel = 0;
    int blockSize = 0;
    // Semaphore keys of the hand-over; tests give private ones.
    int semPeakKey = KEYPEAK;
    int semHKey = KEYH;

    explicit PeakClass(ConfigFile* cfp);

    // The stage's loop; returns only if it cannot run.
    int generatePeak();

    // Loads the settings of a radar section (see SectionSettingsLoader).
    int setVars(const char* section);
    // Appends the peaks of one spectrum row to plist, lowest bin first.
    int peakDetect(float* data, int size, int start, int end, int blockSize, int noiseLevel,
        std::vector<peak_struct>* plist, float thresholdInv);
    float meanValue(float* data, int size);
    float standardDeviation(float* data, int size);

    // Fills the peak record `out` from the spectrum record in slot `slot` of ring "f".
    // Rows of sweeps the record does not have keep what `out` held.
    void processRecord(const fft_st& in, int slot, peak_st& out);

private:
    // One spectrum record of ring "f", in the stage's loop.
    void onRecord(const void* record, int slot) override;
    void traceRead(const radarlist_st& ring, int last, int slot) override;
    void tracePosted(int outputSem, int inputSem) override;
    StageFeed<peak_st>* feed_ = nullptr;
    SharedMem* sm_ = nullptr;

    SectionSettingsLoader settingsOf;
    std::vector<peak_struct> plist;
    // Time stamps of the last record for the debug timing line.
    double stamps[5] = {0, 0, 0, 0, 0};
};
