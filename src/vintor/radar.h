// The acquisition loop of one radar: reads sweep pairs from the radar's
// front-end, stores each as a record in the radar's ring, wakes the FFT stage
// and paces the sweeps against the wall clock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "defaults.h"
#include "frontend.h"
#include "records.h"

class ConfigFile;
class PID;
class SharedMem;

// Semaphore keys the loop uses; tests give private ones.
struct RadarSettings {
    int radarKeys[3] = {KEYRADAR0, KEYRADAR1, KEYRADAR2};
    int fftKey = KEYFFT;
};

// Pacing state that lasts from sweep to sweep (milliseconds).
struct Pacing {
    int64_t ptime = 0;      // measurement time of the previous paced cycle
    int64_t waittime = 200; // pause after each sweep
};

// What one pacing step worked out, for the debug lines.
struct PaceStep {
    int64_t interval = 0;   // time between sweeps after the cap, before the phase nudge
    int64_t difftime = 0;   // time between sweeps after the cap and the phase nudge
    double val = 0.0;       // phase of the sweep within the period
    double inc = 0.0;       // controller output
};

// Time between sweeps as the controller sees it: measurementtime - ptime,
// capped at max(1000, 2 * scanspeed) so that long periods still converge, then
// nudged by 1 ms toward the wanted phase `timeoffset` within the period.
// scanspeed must be above 0; a period or an offset at either end of its type
// is taken as it is (an offset beyond every phase nudges the same way always).
// *capped (when given) is the interval after the cap, before the nudge.
int64_t pacingInterval(int64_t measurementtime, int64_t ptime, int64_t scanspeed, int64_t timeoffset,
                       double* val, int64_t* capped = nullptr);

// One pacing step: updates *pacing and returns the pause in ms (at least 10).
int64_t paceStep(int64_t measurementtime, int64_t scanspeed, int64_t timeoffset, Pacing* pacing, PID* pid,
                 PaceStep* step = nullptr);

// Pause of the made-up-sweep mode: the rest of the period, or 100 ms when the
// period has already passed.
long fakeSleepFor(long scanspeed, long elapsedMs);

// The made-up sweep of that mode: 1024 bytes (i + i / 255) % 256.
void fillFakeSweep(radar_st* record);

// Shared block and trigger semaphore index of a section: radar0 -> 0,
// radar1 -> 1, anything else -> 2.
int radarIndex(const std::string& section);
sharedmemRadar_st* radarBlock(const std::string& section);

class RadarClass {
public:
    RadarClass(ConfigFile* cf, std::string section, const RadarSettings& settings = RadarSettings());
    ~RadarClass();
    RadarClass(const RadarClass&) = delete;
    RadarClass& operator=(const RadarClass&) = delete;

    // Sets the radar up and loops; comes back only to give up, with 1.
    int process();

    // What process does before its loop, without the shared memory: reads the
    // radar's settings and sets its front-end up; 1 when the radar cannot be used.
    int open();
    // One sweep pair into the record, stamped as the loop stores it: false for
    // a failed (NaN) one. *measurementtime is the pacing time of the sweep;
    // *result the front-end's own answer.
    bool acquire(int64_t* measurementtime, int* result);
    const radar_st& record() const { return data_radar; }

private:
    void readSettings();
    int setUp(int brand);
    [[noreturn]] void fakeLoop(long scanspeed);
    // One sweep of the loop: stored, handed to the FFT stage and paced; false
    // when the radar gives up.
    bool cycle(PID* pid);
    void pace(PID* pid);

    ConfigFile* cf;
    std::string section;
    int debug = 0;
    RadarSettings settings_;
    std::unique_ptr<SharedMem> storage_;
    std::unique_ptr<RadarFrontEnd> frontEnd_;
    int Timeout = 0;
    int fake_ = 0;
    int brand_ = ENRAF;
    long nrofsweeps_ = 0;
    long scanspeed_ = 0;
    int64_t timeoffset_ = 0;
    double stamps_[6] = {0, 0, 0, 0, 0, 0};  // debug timing of the last sweep
    // The sweep loop's own state, set up by process.
    sharedmemRadar_st* block_ = nullptr;
    int semid_ = -1;
    int semFft_ = -1;
    bool paced_ = false;
    int64_t measurementtime_ = 0;  // pacing time of the last sweep
    Pacing pacing_;
    int errorcount_ = 0;           // failed sweeps in a row
    double previoustimer = 0.0;
    double vorige = 0.0;
    radar_st data_radar;   // reused for every sweep
};
