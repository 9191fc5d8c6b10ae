#include "h.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdarg>
#include <cstring>
#include <iostream>
#include <zmq.hpp>

#include "configfile.h"
#include "feedbind.h"
#include "misc.h"
#include "sharedmem.h"

namespace {

// Fixed text fields may lack their terminator when a slot was lapped or torn.
std::string fieldText(const char* field, std::size_t size) { return std::string(field, strnlen(field, size)); }

// Peaks of one sweep as "bin!height!correction" joined by "," and ended by "!".
void appendPeaks(std::string& out, const peak_st& p) {
    if (p.nrOfSweeps < 1) {
        out += "NaN";
        return;
    }
    const int sweeps = std::min(p.nrOfSweeps, MAX_NR_OF_SWEEPS);
    std::string t;
    for (int s = 0; s < sweeps; ++s) {
        const int n = std::max(0, std::min(p.nrOfPeaks[s], MAX_NR_OF_PEAKS));
        for (int k = 0; k < n; ++k) {
            util::floatToString(static_cast<float>(p.data[s][k].bin), &t);
            out += t + "!";
            util::floatToString(p.data[s][k].height, &t);
            out += t + "!";
            util::floatToString(p.data[s][k].correction, &t);
            out += t + ",";
        }
        if (!out.empty() && out.back() == ',') out.pop_back();
        out += "!";
    }
}

}  // namespace

HClass::HClass(ConfigFile* cfp) : cf(cfp), settingsOf_(cfp, BinRange::Truncated) {
    std::memset(&data_peak, 0, sizeof data_peak);
    std::memset(&data_heave, 0, sizeof data_heave);
}

int HClass::setVars(const char* sectionField) {
    if (settingsOf_.load(sectionField, sizeof data_peak.section, &settings)) {
        // A section met for the first time starts with an empty window; its
        // next record starts from what the configuration holds, unless this
        // one is valid.
        tracker.windowup[0] = tracker.windowup[1] = settings.maximumheight;
        tracker.windowdown[0] = tracker.windowdown[1] = settings.minimumheight;
        tracker.lastValidTime = 0;
        tracker.windowLastDistance[0] = tracker.windowLastDistance[1] = 0;
        centre_ = centres_.find(sectionField, sizeof data_peak.section);
        if (centre_ == nullptr) {
            const std::string section = fieldText(sectionField, sizeof data_peak.section);
            WindowCentre c;
            c.lastValidTime = static_cast<double>(cf->ValueLongLong(section, "lastvalidtime"));
            c.lastDistance[0] = cf->ValueFloat(section, "windowlastdistanceup");
            c.lastDistance[1] = cf->ValueFloat(section, "windowlastdistancedown");
            centre_ = centres_.store(sectionField, sizeof data_peak.section, c);
        }
    } else {
        tracker.windowstd = settings.windowstdev;
        centre_ = centres_.find(sectionField, sizeof data_peak.section);
        if (centre_ != nullptr) {
            tracker.lastValidTime = centre_->lastValidTime;
            tracker.windowLastDistance[0] = centre_->lastDistance[0];
            tracker.windowLastDistance[1] = centre_->lastDistance[1];
        } else {
            readWindowState(fieldText(sectionField, sizeof data_peak.section));
        }
    }
    if (debug > 7) std::printf("\r\nH Minimumheight:%f Maxheight=%f", settings.minimumheight, settings.maximumheight);
    return 0;
}

void HClass::readWindowState(const std::string& section) {
    tracker.lastValidTime = static_cast<double>(cf->ValueLongLong(section, "lastvalidtime"));
    tracker.windowLastDistance[0] = cf->ValueFloat(section, "windowlastdistanceup");
    tracker.windowLastDistance[1] = cf->ValueFloat(section, "windowlastdistancedown");
}

namespace {

// A float as the configuration copy gives it back after storing it: through
// its text with 6 significant digits.
float asStored(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
    const double d = std::strtod(text, nullptr);
    if (d > FLT_MAX) return HUGE_VALF;
    if (d < -FLT_MAX) return -HUGE_VALF;
    return static_cast<float>(d);
}

}  // namespace

void HClass::storeWindowState(const std::string& section, long long recordTime) {
    if (centre_ == nullptr) {
        cf->setValue(section, "windowlastdistanceup", data_heave.distance[0]);
        cf->setValue(section, "windowlastdistancedown", data_heave.distance[1]);
        cf->setValue(section, "lastvalidtime", recordTime);
        return;
    }
    if (cf->usingMemcache == 0) {  // the copy keeps floats only then
        centre_->lastDistance[0] = asStored(data_heave.distance[0]);
        centre_->lastDistance[1] = asStored(data_heave.distance[1]);
    }
    centre_->lastValidTime = static_cast<double>(recordTime);
}

int pairFault(const PairCheck& c) {
    if (!c.offsetFinite) return NAN_MOUNTING;
    if (!c.picksValid()) return 1;
    if (c.sweeps >= 2 && (c.velocity > c.velocityBound || c.velocity < -c.velocityBound)) return 15;
    // A mounting height or angle that is no number would put "nan" or "inf"
    // into lines of the valid form: such a pair is invalid, with its own code.
    if (!c.mountingFinite) return NAN_MOUNTING;
    return 0;
}

void HClass::trace(int above, const char* format, ...) const {
    if (above == TRACE_ANY ? debug == 0 : debug <= above) return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

bool HClass::sweepDistance(int i, const char* section, const char* timeText) {
    const int n = std::max(0, std::min(data_peak.nrOfPeaks[i], MAX_NR_OF_PEAKS));
    for (int k = 0; debug > 4 && k < n; ++k) {
        const peak_struct& p = data_peak.data[i][k];
        trace(4, "\n peakdata-> bin=%d Value=%f correction:%f distanceFromFlangeToAntennaBottom:%f fourierD:%f Height=%f",
              p.bin, p.height, p.correction, settings.distanceFromFlangeToAntennaBottom, settings.fourierDistanceCm,
              settings.fourierDistanceCm * (p.bin + p.correction));
    }
    const PeakChoice hSt = tracker.choose(settings, data_peak.data[i], n, i);
    float& d = data_heave.distance[i];
    d = settings.distanceOf(hSt.bin, hSt.correction);
    trace(2, "\nH-> t=%s bin=%d Correction=%f fourierDistance=%f radarOffset=%f pipeCorrection=%f "
          "distanceFromFlangeToAntennaBottom=%f Value=%f Distance=%f thresholdInv=%f",
          timeText, hSt.bin, hSt.correction, settings.fourierDistanceCm, settings.radarOffset, settings.pipeCorrection,
          settings.distanceFromFlangeToAntennaBottom, hSt.height, d, settings.thresholdInv);
    trace(4, "\nH-> t=%s (heave d:%f >= windowdown=%f)&&(d=%f <= windowup=%f)", section, d, tracker.windowdown[i], d,
          tracker.windowup[i]);
    data_heave.Ep[i] = hSt.height;
    if (debug > 7) std::cout << "\n thresholdInv = " << settings.thresholdInv;
    return settings.thresholdInv < hSt.height;
}

void HClass::acceptRecord(const std::string& section, const char* timeText, float distanceAvg, status_st& status) {
    data_heave.distanceAvg = distanceAvg;
    if (debug > 7)
        std::cout << "\n distanceAvg = " << data_heave.distanceAvg << " [cm]" << "\n VDoppler = " << data_heave.VDoppler
                  << " [cm/sec]";
    const long long t = std::strtoll(timeText, nullptr, 10);
    tracker.update(t, data_heave.distanceAvg, tracker.peaksOutsideDynWind);
    storeWindowState(section, t);
    trace(TRACE_ANY, "\nH->%s t=%.20s windowdown0=%f windowdown1=%f windowup0=%f windowup1=%f avg=%f avg2=%f "
          "std=%f Dis[0]=%f Dis[1]=%f",
          section.c_str(), data_heave.time, tracker.windowdown[0], tracker.windowdown[1], tracker.windowup[0],
          tracker.windowup[1], windowavg, windowavg2, tracker.windowstd, data_heave.distance[0],
          data_heave.distance[1]);
    ++status.peak;
}

void HClass::fillRecord(int j) {
    std::memcpy(data_heave.time, data_peak.time, sizeof data_heave.time);
    std::memcpy(data_heave.section, data_peak.section, sizeof data_heave.section);
    data_heave.nrOfSweeps = data_peak.nrOfSweeps;
    data_heave.radnr = data_peak.radnr;
    data_heave.nan = data_peak.nan;
    data_heave.peak_key = j;
    data_heave.fft_key = data_peak.fft_key;
    trace(3, "\nHeave: nrofsw:%d nan:%d peak:%d", data_heave.nrOfSweeps, data_heave.nan, data_heave.peak_key);
}

void HClass::handleRecord(int j, status_st& status, SharedMem* storage) {
    const std::string section = fieldText(data_peak.section, sizeof data_peak.section);
    // Twenty characters do not fit a string's own buffer: keep the copy off the heap.
    char timeText[sizeof data_peak.time + 1];
    std::memcpy(timeText, data_peak.time, sizeof data_peak.time);
    timeText[sizeof data_peak.time] = '\0';
    setVars(data_peak.section);
    tracker.debug = debug;
    tracker.sectionName = section.c_str();
    tracker.timeText = timeText;
    tracker.registerSection(section);
    tracker.load(section);
    tracker.window(settings, std::strtod(timeText, nullptr));
    trace(6, "\r\nH%s Displacement:%f, Vmax=%f, dt=%lf=%s-%lf,  Wup0=%f Wup1=%f, Wdown0=%f, Wdown1=%f, peaksOut=%d \n",
          section.c_str(), std::max(tracker.displacement, 40.0f), tracker.Vmax, tracker.dt, timeText,
          tracker.lastValidTime, tracker.windowup[0], tracker.windowup[1], tracker.windowdown[0],
          tracker.windowdown[1], tracker.peaksOutsideDynWind);
    trace(5, "\n\nH j=%d time: %s nrOfSweeps:%d", j, timeText, data_peak.nrOfSweeps);

    PairCheck check;
    check.sweeps = data_peak.nrOfSweeps;
    // An offset that is no number would make every distance infinite or NaN,
    // and put them into the record: no pick is made at all.
    check.offsetFinite = std::isfinite(settings.radarOffset);
    tracker.peaksOutsideDynWind = 0;
    // A corrupt count must not index past the two rows of 64 peaks.
    const int sweeps = std::max(0, std::min(data_peak.nrOfSweeps, MAX_NR_OF_SWEEPS));
    if (debug > 7) std::cout << "\n number of sweeps = " << data_peak.nrOfSweeps << " [-]";
    for (int i = 0; i < sweeps; ++i) {
        if (debug > 7)
            std::cout << "\n sweep number = " << i << " [-]" << " number of peaks = " << data_peak.nrOfPeaks[i]
                      << " [-]";
        trace(4, "\nH peakdata nrof peaks=%d ", data_peak.nrOfPeaks[i]);
        if (data_peak.nrOfPeaks[i] != 0 && check.offsetFinite) {
            if (sweepDistance(i, section.c_str(), timeText)) {
                ++check.validPeaks;
                check.distanceSum += data_heave.distance[i];
            } else {
                data_peak.nan += 5 + i;
            }
        }
        data_heave.energy[i] = static_cast<float>(data_peak.energy[i]);
    }
    const bool validPicks = check.picksValid();
    trace(TRACE_ANY, "\nValidPeaks=%d == nrOfSweeps=%d", check.validPeaks, data_peak.nrOfSweeps);
    if (debug != 0 && !validPicks && storage != nullptr) dumpRecord(*storage);
    if (validPicks && check.sweeps >= 2) {
        data_heave.VDoppler = (data_heave.distance[1] - data_heave.distance[0]) * 0.5f;
        data_heave.VDoppler = data_heave.VDoppler * DEF_sweepSpeed_DEF_baseFrequency;
        trace(1, "\nH-> (Ddown=%f - Dup=%f)/2 * %lf ", data_heave.distance[1], data_heave.distance[0],
              static_cast<double>(DEF_sweepSpeed_DEF_baseFrequency));
    } else if (validPicks) {
        // One sweep gives no velocity; a stale second distance must not pose as one.
        data_heave.VDoppler = NAN;
    }
    check.velocity = data_heave.VDoppler;
    check.velocityBound = tracker.Vmax * 1.5 * 100;
    check.mountingFinite = std::isfinite(settings.mountingHeight) && std::isfinite(settings.mountingAngle) &&
                           std::isfinite(settings.cosAngle);
    const int fault = pairFault(check);
    if (fault != 0) {
        data_peak.nrOfSweeps = 0;
        ++status.peakmiss;
        data_peak.nan += fault;
    } else {
        acceptRecord(section, timeText, check.distanceSum / static_cast<float>(check.validPeaks), status);
    }
    fillRecord(j);
}

void HClass::dumpRecord(SharedMem& storage) {
    // Spectrum after the one the previous height record named, as the stage always showed it.
    static fft_st spectrum;
    unsigned int len = 0;
    std::string bins;
    if (storage.getNext("f", data_heave.fft_key, &spectrum, &len) < 0 || spectrum.nrOfSweeps < 1) {
        bins = "NaN";
    } else {
        const int sweeps = std::min(spectrum.nrOfSweeps, MAX_NR_OF_SWEEPS);
        const int lo = std::max(0, settings.minimumbin);
        const int hi = std::min(settings.maximumbin, MAX_FFT_BUFFER_SIZE);
        std::string t;
        for (int s = 0; s < sweeps; ++s) {
            for (int b = lo; b < hi; ++b) {
                util::floatToString(spectrum.data[s][b], &t);
                bins += t + ",";
            }
            if (!bins.empty() && bins.back() == ',') bins.pop_back();
            bins += "!";
        }
    }
    std::string peaks;
    appendPeaks(peaks, data_peak);
    std::printf("\nHBins : %s", bins.c_str());
    std::printf("\nHPeaks: %s", peaks.c_str());
}

void HClass::traceRead(const radarlist_st&, int, int slot) {
    if (debug > 7) std::printf("\n-----------> Check for new message! \n");
    if (slot >= 0 && debug > 7) std::printf("\n-----------> Found new message! \n");
}

void HClass::traceIdle() {
    if (debug > 8) std::printf("Posting for subscriptions\n");
}

void HClass::tracePosted(int outputSem, int) {
    if (debug != 0) std::printf("\nPosting for subscriptions sem_subscriptions=%d", getSemaphoreValue(outputSem));
}

void HClass::onRecord(const void* record, int j) {
    std::memcpy(&data_peak, record, sizeof data_peak);
    handleRecord(j, sharedmem->status, storage_);
    const int added = storage_->add("h", &data_heave, sizeof data_heave);
    if (debug > 4) std::printf("\nHeave:storage Add:%d", added);
    // A small record: copied, but into a buffer the message takes without allocating.
    std::memcpy(&feed_->next(), &data_heave, sizeof data_heave);
    feed_->send();
}

int HClass::process(int keyH, int keySubscriptions) {
    StageLoop loop({keyH, keySubscriptions, nullptr, false, "semop subscriptions+1", "semop h wait"});
    debug = cf->ValueInt("vintor", "debugh");
    tracker.debug = debug;
    StageFeed<heave_st> feed;
    feed.bind(cf->ValueInt("publishers", "h"), "h", debug != 0);

    SharedMem storage(cf);
    radarlist_st input = StageLoop::newestOf(storage, "p");
    if (static_cast<unsigned>(input.index) > 50u) input.index = 0;
    std::memset(&data_heave, 0, sizeof data_heave);
    feed_ = &feed;
    storage_ = &storage;
    loop.run(storage, &input, 1, *this);
}
