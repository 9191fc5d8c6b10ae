// Height and Doppler stage: which peak of a sweep is the water surface, the
// distance and velocity of that surface, and the height records of ring "h".
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

// Code added to a record's "nan" when the section's mounting height or angle
// is no finite number: the pair gives no height.
constexpr int NAN_MOUNTING = 20;

// Memory of one radar section kept between its records.
struct TrackerSlot {
    std::string section;  // empty while free
    double stdDev = 1.0;  // cm, never below 1
    double lastValidTime = 0.0;  // epoch ms
    int peaksOutsideDynWind = 0;
    std::deque<double> buff;  // averaged distances, oldest first
};

struct PeakChoice {
    int bin = 0;
    float height = -10.0f;
    float correction = 0.0f;
};

// Follows the surface of up to three radar sections from record to record:
// a static window (the measuring range), a dynamic window around the last
// valid distance that widens with time and expected surface speed, and a
// margin a farther peak must beat to replace a nearer one.
class SurfaceTracker {
public:
    static constexpr std::size_t buffSize = 3072;
    static constexpr int nrOfSlots = 3;

    TrackerSlot slots[nrOfSlots];
    int debug = 0;
    const char* sectionName = "";  // of the record being handled, for debug lines
    const char* timeText = "";     // its time text, for debug lines

    // Window state of the record being handled (members of the height stage).
    float windowup[2] = {0, 0};
    float windowdown[2] = {0, 0};
    float windowLastDistance[2] = {0, 0};
    float windowstd = 0;
    double lastValidTime = 0;

    // Per-record working values.
    int slot = -1;
    int peaksOutsideDynWind = 0;
    double waveHeight = 0;
    float Vmax = 1.0f;
    double dt = 0;
    float displacement = 0;

    // Gives a free slot to a section not seen before (first three names only).
    void registerSection(const std::string& section);
    // Loads the section's slot into the window state; returns the slot or -1.
    int load(const std::string& section);
    // Dynamic windows of both sweeps and the velocity bound for a record at
    // recordTime (epoch ms).
    void window(const SectionSettings& s, double recordTime);
    // The surface peak of sweep i among n peaks (increasing bin); counts the
    // sweep when the peak the margin prefers in the static window is not it.
    template <class Peak>
    PeakChoice choose(const SectionSettings& s, const Peak* peaks, int n, int i);
    // Statistics of the section after a valid record.
    void update(long long recordTime, float distanceAvg, int recordOutside);

private:
    bool inStatic(const SectionSettings& s, float d) const {
        return d >= s.minimumheight * 100.0f && d <= s.maximumheight * 100.0f;
    }
};

template <class Peak>
PeakChoice SurfaceTracker::choose(const SectionSettings& s, const Peak* peaks, int n, int i) {
    PeakChoice hSt;
    PeakChoice hStMax;
    for (int k = 0; k < n; ++k) {
        const float height = peaks[k].height;
        if (debug > 7) std::cout << "\n peak number = " << k << " [-]" << " peak height = " << height << " [-]";
        if (!(height > hStMax.height * s.secondPeakMargin)) continue;
        const float d = s.distanceOf(peaks[k].bin, peaks[k].correction);
        if (debug > 7) std::cout << "\n distance = " << d;
        if (!inStatic(s, d)) continue;
        if (debug > 7) std::cout << "\n In static!! " << " peak distance = " << d << " [cm]";
        hStMax.bin = peaks[k].bin;
        hStMax.height = height;
        if (!(height > hSt.height * s.secondPeakMargin)) continue;
        if (debug > 8)
            std::printf("\n%s (heave all peaks d:%f >= windowdown=%f)&&(d=%f <= windowup=%f)", sectionName, d,
                        windowdown[i], d, windowup[i]);
        if (debug > 7)
            std::cout << "Within DWindow: height:" << hSt.height << ", Correction: " << hSt.correction
                      << ", bin:" << hSt.bin << ", Time:" << timeText << ", d:" << d << ",WindowDown:" << windowdown[i]
                      << ",Windowup:" << windowup[i];
        if (!(d >= windowdown[i] && d <= windowup[i])) continue;
        if (debug > 7) std::cout << "\n In dynamic!! ";
        hSt.bin = peaks[k].bin;
        hSt.height = height;
        hSt.correction = peaks[k].correction;
    }
    if (hSt.bin != hStMax.bin) {
        ++peaksOutsideDynWind;
        if (debug > 7) std::printf(" !!!peaksOutsideDynWind!!! %d,%d", hSt.bin, hStMax.bin);
    }
    return hSt;
}

// What decides whether a height record is valid, beside each sweep's own pick.
struct PairCheck {
    int sweeps = 0;           // the peak record's count
    int validPeaks = 0;       // sweeps whose surface peak is above the threshold
    float distanceSum = 0;    // of those sweeps' distances, cm
    float velocity = 0;       // Doppler velocity, cm/s (two sweeps only)
    double velocityBound = 0; // cm/s
    bool mountingFinite = true;
};

// The code a record adds to its "nan" beyond its sweeps' own: 1 when not every
// sweep gave a valid pick, 15 when the velocity is beyond its bound,
// NAN_MOUNTING when the mounting gives no height; 0 for a valid record.
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
