// Height and Doppler stage: the distance and velocity of the water surface
// (the peak the surface tracker picks) and the height records of ring "h".
#pragma once

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <iostream>
#include <string>

#include "defaults.h"
#include "records.h"
#include "sectionsettings.h"
#include "stageloop.h"
#include "surfacetracker.h"

// Code added to a record's "nan" when the section's mounting height, angle
// or radar offset is no finite number: the pair gives no height.
constexpr int NAN_MOUNTING = 20;

// What decides whether a height record is valid, beside each sweep's own pick.
struct PairCheck {
    int sweeps = 0;           // the peak record's count
    int validPeaks = 0;       // sweeps whose surface peak is above the threshold
    float distanceSum = 0;    // of those sweeps' distances, cm
    float velocity = 0;       // Doppler velocity, cm/s (two sweeps only)
    double velocityBound = 0; // cm/s
    bool mountingFinite = true;
    bool offsetFinite = true; // without it no distance, so no pick, is made

    // Every sweep gave a valid pick (what fault 1 says is not so).
    bool picksValid() const { return validPeaks != 0 && !std::isnan(distanceSum) && validPeaks == sweeps; }
};

// The code a record adds to its "nan" beyond its sweeps' own: NAN_MOUNTING
// alone when the radar offset gives no distance; else 1 when not every sweep
// gave a valid pick, 15 when the velocity is beyond its bound, NAN_MOUNTING
// when the mounting gives no height; 0 for a valid record.
int pairFault(const PairCheck& check);

class ConfigFile;
class SharedMem;

class HClass : private ChainStage {
public:
    ConfigFile* cf;
    SectionSettings settings;  // the section of the record being handled
    SurfaceTracker tracker;
    float windowavg = 0;
    float windowavg2 = 0;
    int debug = 0;

    peak_st data_peak;
    heave_st data_heave;  // reused: fields a record does not set keep the last value

    explicit HClass(ConfigFile* cfp);

    // Loads the settings of a radar section (see SectionSettingsLoader) and
    // its window state.
    int setVars(const char* section);
    // Turns data_peak, taken from slot j of ring "p", into data_heave; counts
    // valid and rejected records in status. storage only serves debug dumps.
    void handleRecord(int j, status_st& status, SharedMem* storage = nullptr);
    // The stage loop: drains ring "p" on every wake-up and never returns.
    int process(int keyH = KEYH, int keySubscriptions = KEYSUBSCRIPTIONS);

private:
    // One peak record of ring "p", in the stage's loop.
    void onRecord(const void* record, int slot) override;
    void traceRead(const radarlist_st& ring, int last, int slot) override;
    void traceIdle() override;
    void tracePosted(int outputSem, int inputSem) override;
    StageFeed<heave_st>* feed_ = nullptr;
    SharedMem* storage_ = nullptr;

    SectionSettingsLoader settingsOf_;
    // Where the dynamic window of a section is centred, as its last valid
    // record left it: kept here rather than in the configuration copy, which
    // cost six string-keyed lookups and conversions per record, with the
    // values that copy would give back (distances with the 6 digits of their text).
    struct WindowCentre {
        float lastDistance[2] = {0, 0};
        double lastValidTime = 0;
    };
    SectionCache<WindowCentre> centres_;
    WindowCentre* centre_ = nullptr;  // of the record's section; nullptr: in the configuration copy
    // The window state of the section as the last valid record stored it.
    void readWindowState(const std::string& section);
    void storeWindowState(const std::string& section, long long recordTime);
    void dumpRecord(SharedMem& storage);

    // The steps of handleRecord: the distance of sweep i (true when its pick
    // is valid), a valid record's average and statistics, and the record's fields.
    bool sweepDistance(int i, const char* section, const char* timeText);
    void acceptRecord(const std::string& section, const char* timeText, float distanceAvg, status_st& status);
    void fillRecord(int j);
    // printf when the debug level is above `above` (TRACE_ANY: at any level but 0).
    static constexpr int TRACE_ANY = INT_MIN;
    void trace(int above, const char* format, ...) const __attribute__((format(printf, 3, 4)));
};
