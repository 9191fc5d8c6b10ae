#include "radar.h"

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "configfile.h"
#include "frontends.h"
#include "misc.h"
#include "pid.h"
#include "sharedmem.h"
#include "timer.h"

int64_t pacingInterval(int64_t measurementtime, int64_t ptime, int64_t scanspeed, int64_t timeoffset,
                       double* val, int64_t* capped) {
    int64_t difftime = measurementtime - ptime;
    // A period too long to double caps nothing.
    const int64_t cap = scanspeed > INT64_MAX / 2 ? INT64_MAX : scanspeed * 2 > 1000 ? scanspeed * 2 : 1000;
    if (difftime > cap) difftime = cap;
    if (capped != nullptr) *capped = difftime;
    const int64_t phase = measurementtime % scanspeed;
    // The window of +-1 ms is taken on the phase, which lies within the
    // period, so that an offset at either end of its type cannot overflow.
    if (phase - 1 > timeoffset) {
        // Far into the period with a small offset: the sweep came early for the next target.
        if (timeoffset < 20 && phase > scanspeed / 2)
            difftime -= 1;
        else
            difftime += 1;
    }
    if (phase + 1 < timeoffset) difftime -= 1;
    if (val != nullptr) *val = double(phase);
    return difftime;
}

int64_t paceStep(int64_t measurementtime, int64_t scanspeed, int64_t timeoffset, Pacing* pacing, PID* pid,
                 PaceStep* step) {
    PaceStep s;
    s.difftime = pacingInterval(measurementtime, pacing->ptime, scanspeed, timeoffset, &s.val, &s.interval);
    s.inc = pid->calculate(double(scanspeed), double(s.difftime));
    pacing->waittime = int64_t(double(pacing->waittime) + s.inc);
    if (pacing->waittime < 10) pacing->waittime = 10;
    pacing->ptime = measurementtime;
    if (step != nullptr) *step = s;
    return pacing->waittime;
}

long fakeSleepFor(long scanspeed, long elapsedMs) {
    if (scanspeed <= elapsedMs) return 100;
    // A clock stepped back leaves more than the period to wait: for the
    // longest periods, more than a long holds.
    if (elapsedMs < 0 && scanspeed > LONG_MAX + elapsedMs) return LONG_MAX;
    return scanspeed - elapsedMs;
}

void fillFakeSweep(radar_st* record) {
    record->length = 1024;
    for (int i = 0; i < 1024; ++i) record->data.com[i] = char((i + i / 255) % 256);
}

int radarIndex(const std::string& section) {
    if (section == "radar0") return 0;
    if (section == "radar1") return 1;
    return 2;
}

sharedmemRadar_st* radarBlock(const std::string& section) {
    sharedmemRadar_st* blocks[3] = {sharedmemRadar0, sharedmemRadar1, sharedmemRadar2};
    return blocks[radarIndex(section)];
}

namespace {

void setRadarCom(int value) {
    if (sharedmem != nullptr) sharedmem->status.radarCom = value;
}

// The section text of a record: cleared, then the name (cut to the field).
void putSection(radar_st* r, const std::string& section) {
    std::memset(r->section, 0, sizeof r->section);
    std::snprintf(r->section, sizeof r->section, "%s", section.c_str());
}

// A semaphore of the chain by key; a radar without it cannot hand on its
// sweeps and ends (status 0) for the radar manager to start it again.
int semaphoreOrExit(int key, const char* name, const char* failure) {
    const int id = getSemaphore(key);
    if (id < 0) {
        printf("\nError %s=%d", name, id);
        fflush(stdout);
        perror(failure);
        exit(0);
    }
    return id;
}

// A flag that cannot be set leaves the FFT stage asleep for good.
void wakeFft(int semFft) {
    if (setSemaphore(semFft, 1) == -1) {
        perror("semop fft=1");
        exit(1);
    }
}

void putTime(radar_st* r, long long ms) {
    std::memset(r->time, 0, sizeof r->time);
    std::snprintf(r->time, sizeof r->time, "%lld", ms);
}

// A pause in ms as the microseconds uSleep takes; the longest periods give
// pauses whose microseconds no 64-bit count holds.
int64_t microseconds(int64_t ms) {
    if (ms > INT64_MAX / 1000) return INT64_MAX;
    if (ms < INT64_MIN / 1000) return INT64_MIN;
    return ms * 1000;
}

// Whole ms of a span of the wall clock, within what a long holds (a clock
// stepped by weeks passes that on a 32-bit long).
long wholeMs(double ms) {
    if (ms >= double(LONG_MAX)) return LONG_MAX;
    if (ms <= double(LONG_MIN)) return LONG_MIN;
    return long(ms);
}

}  // namespace

RadarClass::RadarClass(ConfigFile* cfp, std::string sec, const RadarSettings& settings)
    : cf(cfp), section(std::move(sec)), settings_(settings) {
    std::memset(&data_radar, 0, sizeof data_radar);
    uSleep(10000);
    setRadarCom(0);
    debug = 0;
}

RadarClass::~RadarClass() = default;

// Front-end creation, opening and configuration in the order of its brand.
// Returns 1 when the radar cannot be used.
int RadarClass::setUp(int brand) {
    Timeout = cf->ValueInt("vintor", "timeout");
    // One text per key: a missing key is empty, never another key's value.
    std::string comport, parity, filename;
    cf->Value(section, "comport", &comport);
    cf->Value(section, "parity", &parity);

    frontEnd_.reset(newFrontEnd(brand, cf, section, double(Timeout)));
    if (!frontEnd_) {
        printf("\n%s: no front-end for brand %d in this program", section.c_str(), brand);
        return 1;
    }
    RadarFrontEnd& fe = *frontEnd_;
    fe.setDebug(debug);
    switch (brand) {
    case ENRAF:
    case SIVERSIMA:
        fe.Settings(comport, cf->ValueLong(section, "baudrate"), parity.c_str(),
                    cf->ValueLong(section, "databits"), cf->ValueLong(section, "stopbits"));
        fe.setRS485(cf->ValueInt(section, "rs485"));
        fe.setRadId(int(cf->ValueLong(section, "radid")));
        fe.openComm();
        break;
    case READFILE:
        cf->Value(section, "filename", &filename);
        fe.Settings(filename);
        fe.openRadar();
        break;
    default:
        fe.openRadar();
        break;
    }
    setRadarCom(1);

    std::string radIdText;
    if (brand == ENRAF || brand == SIVERSIMA) {
        uSleep(50000);
        if (fe.reset(1000000.0) != 0 && brand == SIVERSIMA) return 1;
        util::ToString(fe.getRadId(), &radIdText);
        uSleep(1000000);
        fe.getVersion();
        uSleep(1000000);
        fe.configRadar(double(Timeout));
    } else if (brand == TARNIX) {
        fe.configRadar(double(Timeout));
        fe.getVersion();
    }
    printf("\n%s Waiting for the radar...", section.c_str());
    fflush(stdout);
    if (brand == ENRAF) {
        fe.emptyBuffers(100000.0);
        uSleep(5000000);
        fe.getStatus(100000.0);
    }
    setRadarCom(2);
    return 0;
}

void RadarClass::fakeLoop(long scanspeed) {
    printf("\nNOTE!!!! FAKE RADAR Readings");
    fflush(stdout);
    for (;;) {
        fillFakeSweep(&data_radar);
        std::string now;
        getTimeToString(&now);
        std::memset(data_radar.time, 0, sizeof data_radar.time);
        std::snprintf(data_radar.time, sizeof data_radar.time, "%s", now.c_str());
        data_radar.nan = 0;
        storage_->add(section.c_str(), &data_radar, sizeof data_radar);
        if (debug >= 6) printf("\nGetMeasurent data length: %d %s", data_radar.length, data_radar.time);
        double t = getTime();
        long sleepfor = fakeSleepFor(scanspeed, wholeMs(t - previoustimer));
        if (debug >= 4) printf("\nSleepfor: %ld-(%f-%f) = %lu", scanspeed, t, previoustimer, (unsigned long)sleepfor);
        if (debug >= 1) printf("\nRadar time=%f sleepfor=%ld", t - previoustimer, sleepfor);
        previoustimer = getTime();
        uSleep(microseconds(sleepfor));
    }
}

void RadarClass::readSettings() {
    fake_ = cf->ValueInt(section, "debugradarfake");
    debug = cf->ValueInt(section, "debugradar");
    std::string brandText;
    cf->Value(section, "brand", &brandText);
    const long sweepsize = cf->ValueLong(section, "sweepsize");
    nrofsweeps_ = cf->ValueLong(section, "nrofsweeps");
    scanspeed_ = cf->ValueLong(section, "scanspeed");
    timeoffset_ = cf->ValueLong(section, "timeoffset");
    brand_ = chooseBrand(&brandText);
    data_radar.brand = brand_;
    printf("\nBrand(%d):%s %s sweepsize:%d nrofsweeps:%d scanspeed:%ld", brand_, brandText.c_str(),
           section.c_str(), int(sweepsize), int(nrofsweeps_), scanspeed_);
    fflush(stdout);
}

int RadarClass::open() {
    readSettings();
    return setUp(brand_);
}

bool RadarClass::acquire(int64_t* measurementtime, int* result) {
    if (debug >= 2) stamps_[0] = getTime();
    frontEnd_->startMeasurement();
    if (debug >= 2) stamps_[1] = getTime();
    // A front-end that fails without setting a length must not have the
    // previous sweep's length judged again.
    data_radar.length = 0;
    *result = frontEnd_->getMeasurement(&data_radar, double(Timeout));
    if (debug >= 2) stamps_[2] = getTime();

    if (data_radar.length <= 1) {
        if (debug >= 3) printf("\n%s NaN=%d", data_radar.section, 1);
        putTime(&data_radar, (long long)getTime());
        putSection(&data_radar, section);
        data_radar.nan = 1;
        data_radar.nrOfSweeps = 0;
        return false;
    }
    if (debug >= 1) stamps_[3] = getTime();
    data_radar.nrOfSweeps = int(nrofsweeps_);
    if (!frontEnd_->timeOfSweep(&data_radar)) {
        *measurementtime = int64_t(getTime());
        putTime(&data_radar, (long long)*measurementtime);
    }
    // A replayed sweep keeps the file's time in its record, but is paced
    // against the wall clock so a recording plays at the configured rate.
    if (brand_ == READFILE) *measurementtime = int64_t(getTime());
    putSection(&data_radar, section);
    data_radar.nan = 0;
    return true;
}

int RadarClass::process() {
    measurementtime_ = int64_t(getTime());
    previoustimer = getTime();

    readSettings();
    storage_.reset(new SharedMem(cf));
    // The list of radars in use belongs to the radar manager; a radar never writes it.
    if (fake_ != 0) fakeLoop(scanspeed_);

    if (setUp(brand_) != 0) return 1;

    block_ = radarBlock(section);
    if (block_ == nullptr) {
        printf("\n%s: its shared file is not mapped", section.c_str());
        return 1;
    }
    semid_ = semaphoreOrExit(settings_.radarKeys[radarIndex(section)], "sharedmemRadar->semafore",
                             "\nUnable to obtain radar semaphore");
    block_->semafore = semid_;
    printf("\nsharedmemRadar->semafore=%d", semid_);
    semFft_ = semaphoreOrExit(settings_.fftKey, "sem_fft", "\nUnable to obtain fft semaphore");
    printf("\nsem_fft=%d", semFft_);
    fflush(stdout);
    wakeFft(semFft_);

    PID pidcontrol(1.0, 100.0, -100.0, 0.45, 0.02, 0.01);
    paced_ = brand_ == ENRAF || brand_ == SIVERSIMA || brand_ == READFILE;
    if (paced_ && scanspeed_ <= 0)
        printf("\n%s scanspeed:%ld is not a period: sweeps are not paced", section.c_str(), scanspeed_);
    for (;;)
        if (!cycle(&pidcontrol)) return 1;
}

bool RadarClass::cycle(PID* pid) {
    for (double& t : stamps_) t = 0;
    int result = 0;
    if (!acquire(&measurementtime_, &result)) {
        storage_->add(section.c_str(), &data_radar, sizeof data_radar);
        if (++errorcount_ > 60) return false;
    } else {
        int slot = storage_->add(section.c_str(), &data_radar, sizeof data_radar);
        if (debug >= 6)
            printf("\nt=%s GetMeasurent data length: %d %s %d %d", block_->timestring, data_radar.length,
                   data_radar.time, result, slot);
        if (debug >= 2) stamps_[4] = getTime();
        errorcount_ = 0;
    }

    if (debug >= 1) {
        stamps_[5] = getTime();
        printf("\n%s Send=%d sem=%d", data_radar.time, 1, getSemaphoreValue(semid_));
        printf("\nPosting for fft %d", getSemaphoreValue(semFft_));
    }
    wakeFft(semFft_);
    if (debug >= 2) {
        // A time not taken in this cycle (t4 and t5 of a failed sweep) counts as 0.
        const double now = getTime();
        const double* t = stamps_;
        printf("radar total:%.0lf t2:%.0lf t3:%.0lf t4:%.0lf t5:%.0lf t6:%.0lf t7:%.0lf\n", now - t[0],
               t[1] - t[0], t[2] - t[1], t[3] - t[2], t[4] - t[3], t[5] - t[4], now - t[5]);
    }
    if (paced_ && scanspeed_ > 0) pace(pid);

    double now = getTime();
    if (debug >= 4)
        printf("\nLocaltime=%lf   sh=%lf  diff=%lf nancounter=%d vorige=%lf  diff=%lf", now, block_->localtime,
               now - block_->localtime, 0, vorige, now - vorige);
    vorige = now;
    if (debug >= 1) fflush(stdout);
    return true;
}

void RadarClass::pace(PID* pid) {
    PaceStep step;
    const int64_t waittime = paceStep(measurementtime_, scanspeed_, timeoffset_, &pacing_, pid, &step);
    if (debug >= 1) {
        printf("\ntime between sweeps diff:\t%lld\ttime: %lld", (long long)step.interval,
               (long long)measurementtime_);
        printf(" val:\t%7.3f timeoffset:\t%lld pidinc:\t%7.3f\n", step.val, (long long)timeoffset_, step.inc);
    }
    uSleep(microseconds(waittime));
    if (debug >= 1)
        printf("Sleeping for %lld msec -> %ld - (%s - %lld)\n", (long long)waittime, scanspeed_, data_radar.time,
               (long long)previoustimer);
}
