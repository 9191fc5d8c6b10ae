#include "subscriptions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "configfile.h"
#include "feedbind.h"
#include "misc.h"
#include "sharedmem.h"
#include "timer.h"

namespace {

// Length of a fixed text field that may lack its terminator.
int fieldLength(const char* text, std::size_t size) { return static_cast<int>(strnlen(text, size)); }

// Readers are told a missing value prints as "nan"; a negative NaN would print "-nan".
double printable(float v) { return std::isnan(v) ? std::fabs(v) : v; }

}  // namespace

void heaveLine(char* frame, const char* time, const char* radarName, bool valid, float h) {
    std::memset(frame, 0, HEAVE_FRAME_SIZE);
    const int tl = fieldLength(time, 20);
    const int nl = fieldLength(radarName, RADAR_NAME_SIZE - 1);
    if (valid)
        std::snprintf(frame, HEAVE_FRAME_SIZE, "time=%.*s;sensor=%.*s;heave=%fcm", tl, time, nl, radarName,
                      printable(h));
    else
        std::snprintf(frame, HEAVE_FRAME_SIZE, "time=%.*s;sensor=%.*s;heave=NaNcm", tl, time, nl, radarName);
}

void vintorLine(char* frame, const char* time, const char* radarName, const float* v, bool valid, int nan) {
    std::memset(frame, 0, VINTOR_FRAME_SIZE);
    const int tl = fieldLength(time, 20);
    const int nl = fieldLength(radarName, RADAR_NAME_SIZE - 1);
    if (valid)
        std::snprintf(frame, VINTOR_FRAME_SIZE, "time=%.*s;sensor=%.*s;Vintor=%f,%f,%f,%f,%f,%f,%f,%f,%f,%f;", tl,
                      time, nl, radarName, printable(v[0]), printable(v[1]), printable(v[2]), printable(v[3]),
                      printable(v[4]), printable(v[5]), printable(v[6]), printable(v[7]), printable(v[8]),
                      printable(v[9]));
    else
        std::snprintf(frame, VINTOR_FRAME_SIZE, "time=%.*s;sensor=%.*s;Vintor=NaN;Value=%d", tl, time, nl,
                      radarName, nan);
}

void appendFloat5(std::string& out, float value) {
    if (std::isinf(value) && value < 0) {
        out += '0';
        return;
    }
    // 64 bytes hold any float in this form (FLT_MAX has 39 integer digits).
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%.5f", static_cast<double>(value));
    if (n > 0) out.append(buf, static_cast<std::size_t>(n));
}

SubscriptionsClass::SubscriptionsClass(ConfigFile* cfp)
    : cf(cfp), context(1, 1023), heavepublisher(context, zmq::socket_type::pub),
      vintorpublisher(context, zmq::socket_type::pub), reflpublisher(context, zmq::socket_type::pub),
      settingsOf_(cfp, BinRange::Truncated) {
    debug = cf->ValueInt("vintor", "debugsubscription");
    std::memset(&data_heave, 0, sizeof data_heave);
    line_.reserve(32768);
}

SubscriptionsClass::~SubscriptionsClass() = default;

int SubscriptionsClass::setVars(const char* sectionField) {
    settingsOf_.load(sectionField, sizeof data_heave.section, &settings);
    validData.validDataPointsN = settings.validDataPointsN;
    validData.validDataPointsSteps = settings.validDataPointsSteps;
    return 0;
}

void SubscriptionsClass::composeVintor(char* frame) const {
    const heave_st& r = data_heave;
    const float h = height();
    const float values[10] = {settings.mountingHeight, settings.mountingAngle, h,           r.VDoppler, r.distance[0],
                              r.distance[1],  r.energy[0],   r.energy[1], r.Ep[0],    r.Ep[1]};
    vintorLine(frame, r.time, settings.radarName, values, r.nrOfSweeps >= 1, r.nan);
}

void SubscriptionsClass::composeHeave(char* frame) const {
    const heave_st& r = data_heave;
    heaveLine(frame, r.time, settings.radarName, r.nrOfSweeps >= 1, height());
}

int SubscriptionsClass::vintor() {
    char frame[VINTOR_FRAME_SIZE];
    const heave_st& r = data_heave;
    if (debug > 2)
        std::printf("\nSub:H %f (Height)%f (Angle)%f (distance)%f (VDoppler)%f Dup=%f Ddown=%f Eup=%f Edown=%f "
                    "Epup=%f Epdown=%f index:%d\n",
                    height(), settings.mountingHeight, settings.mountingAngle, r.distanceAvg, r.VDoppler, r.distance[0],
                    r.distance[1], r.energy[0], r.energy[1], r.Ep[0], r.Ep[1], data_index);
    composeVintor(frame);
    if (debug > 2) std::printf("\nSub:%.20s - %s\n", r.time, frame);
    zmq_send(vintorpublisher.handle(), frame, sizeof frame, 0);
    return 0;
}

int SubscriptionsClass::heave() {
    char frame[HEAVE_FRAME_SIZE];
    const heave_st& r = data_heave;
    composeHeave(frame);
    if (debug >= 1 && r.nrOfSweeps >= 1)
        std::printf("\nSub:H %f=(Height)%f - (RadarOffset)%f - (distance)%f * (cos)%f\n", height(), settings.mountingHeight,
                    settings.radarOffset, r.distanceAvg, settings.cosAngle);
    if (debug > 2) std::printf("\nSub:%.20s - %s\n", r.time, frame);
    zmq_send(heavepublisher.handle(), frame, sizeof frame, 0);
    return 0;
}

void SubscriptionsClass::report(float percentage) {
    const double now = getTime();
    if (percentagePending && now - lastAttemptMs < setmemRetryMs) {
        // The service did not answer lately: wait before trying again, keep the newest value.
        pendingPercentage = percentage;
        return;
    }
    if (!setmem_) {
        ConfigRequest::Options o;
        o.timeoutMs = setmemTimeoutMs;
        setmem_ = std::make_unique<ConfigRequest>(context, localEndpoint(cf->confport), o);
    }
    lastAttemptMs = now;
    std::string reply;
    const ConfigRequest::Result r = setmem_->exchange(validDataRequest(percentage), &reply);
    if (r != ConfigRequest::Ok && r != ConfigRequest::TimedOut)
        std::printf("\nSub: setmem request failed: %s", setmem_->reason());
    if (r == ConfigRequest::Ok) {
        validData.percentagePrev = percentage;
        percentagePending = false;
    } else {
        // Kept to be sent again: the service must learn the share once it answers.
        percentagePending = true;
        pendingPercentage = percentage;
    }
}

int SubscriptionsClass::status() {
    if (validData.count(data_heave.nrOfSweeps > 0)) {
        report(validData.percentage);
    } else if (percentagePending) {
        if (validData.computed)
            percentagePending = false;  // back at the value the service already holds
        else
            report(pendingPercentage);
    }
    if (debug > 2)
        std::printf("\nSub: DataValid points - %d - prev: %d  => %f%%\n", validData.validDataPoints,
                    validData.validDataPointsPrev, validData.percentage);
    return 0;
}

void SubscriptionsClass::reflectionLine(const peak_st& P, const fft_st& F, std::string& line) {
    line.clear();
    line += "time=";
    line.append(P.time, strnlen(P.time, sizeof P.time));
    line += ";sensor=";
    line += settings.radarName;
    line += ";Diag=";
    if (F.nrOfSweeps < 1) {
        line += "NaN";
    } else {
        const std::size_t start = line.size();
        const int sweeps = std::min(F.nrOfSweeps, MAX_NR_OF_SWEEPS);
        // A configured sweep size beyond the record's width must not read past it.
        const int bins = std::min(settings.sweepsize / 2, MAX_FFT_BUFFER_SIZE);
        for (int s = 0; s < sweeps; ++s) {
            if (settings.sweepsize > 1)
                for (int b = 0; b < bins; ++b) {
                    appendFloat5(line, F.data[s][b]);
                    line += ',';
                }
            if (line.size() > start) line.pop_back();
            line += '!';
        }
    }
    line += ";Peak=";
    if (P.nrOfSweeps < 1) {
        line += "NaN";
    } else {
        const std::size_t start = line.size();
        const int sweeps = std::min(P.nrOfSweeps, MAX_NR_OF_SWEEPS);
        const float h = height();
        for (int s = 0; s < sweeps; ++s) {
            const int n = std::max(0, std::min(P.nrOfPeaks[s], MAX_NR_OF_PEAKS));
            for (int j = 0; j < n; ++j) {
                appendFloat5(line, static_cast<float>(P.data[s][j].bin));
                line += '!';
                appendFloat5(line, h);
                line += '!';
                appendFloat5(line, P.data[s][j].correction);
                line += ',';
            }
            if (line.size() > start) line.pop_back();
            line += '!';
        }
        if (line.size() > start) line.pop_back();
    }
    line += ";Window=";
    appendFloat5(line, P.windowdown * (settings.fourierDistanceCm / 100.0f));
    line += "m,";
    appendFloat5(line, P.windowup * (settings.fourierDistanceCm / 100.0f));
    line += "m;SC=";
    const std::string section(data_heave.section, strnlen(data_heave.section, sizeof data_heave.section));
    // An offset that is no number gave the pair no distance: shown as none.
    const float offset = cf->ValueFloat(section, "radaroffset");
    if (std::isfinite(offset))
        appendFloat5(line, offset / 100.0f);
    else
        line += "NaN";
    line += "m,";
    appendFloat5(line, settings.fourierDistanceCm / 100.0f);
    line += "m;";
}

int SubscriptionsClass::diag() {
    // The slots may have been written again since; a mixed line is accepted.
    static peak_st P;
    static fft_st F;
    const auto peakSlot = static_cast<unsigned>(data_heave.peak_key);
    const auto fftSlot = static_cast<unsigned>(data_heave.fft_key);
    if (peakSlot >= static_cast<unsigned>(MEMCACHE_MAX_INDEX) || fftSlot >= static_cast<unsigned>(MEMCACHE_MAX_INDEX))
        return 0;
    unsigned int len = 0;
    storage->get("p", &P, &len, static_cast<int>(peakSlot));
    if (debug > 6)
        std::printf("\nsubpeak: %.10s %.10s peak_key=%d fftkey=%d %d", data_heave.section, P.section,
                    data_heave.peak_key, data_heave.fft_key, P.fft_key);
    storage->get("f", &F, &len, static_cast<int>(fftSlot));
    if (debug > 6)
        std::printf("\nsubfft: %.10s %.10s heave-fftkey=%d  peak-fftkey=%d", data_heave.section, P.section,
                    data_heave.fft_key, P.fft_key);
    setVars(P.section);
    if (debug > 6)
        std::printf("\nsub: %.10s %.10s peak_key=%d  fftkey=%d", data_heave.section, P.section, data_heave.peak_key,
                    data_heave.fft_key);
    reflectionLine(P, F, line_);
    if (debug > 2) std::printf("\nSub:%.20s - %s\n", P.time, line_.c_str());
    if (zmq_send(reflpublisher.handle(), line_.data(), line_.size(), 0) < 0) {
        std::perror("send reflection");
        std::exit(3);
    }
    return 0;
}

void SubscriptionsClass::traceIdle() {
    if (debug > 7) std::printf("Radar waiting for subscriptions timer\n");
}

void SubscriptionsClass::bindAgain() {
    const double now = getTime();
    if (now < nextBindAttempt_) return;
    nextBindAttempt_ = now + rebindMs;
    std::string reason;
    for (auto f = unbound_.begin(); f != unbound_.end();) {
        if (!tryBind(*f->socket, f->address, &reason)) {
            ++f;
            continue;
        }
        std::fprintf(stderr, "%s publisher %s: bound at last\n", f->label, f->address.c_str());
        std::fflush(stderr);
        f = unbound_.erase(f);
    }
}

void SubscriptionsClass::onRecord(const void* record, int j) {
    if (!unbound_.empty()) bindAgain();
    std::memcpy(&data_heave, record, sizeof data_heave);
    data_index = j;
    setVars(data_heave.section);
    vintor();
    heave();
    ++recordCount_;
    status();
    if (recordCount_ > 7) {
        recordCount_ = 0;
        diag();
    }
}

int SubscriptionsClass::process(int keySubscriptions) {
    vintordata_pub = heavedata_pub = refldata_pub = 0;
    StageLoop loop({keySubscriptions, -1, nullptr, false, nullptr, "semop subscriptions wait"});
    storage = std::make_unique<SharedMem>(cf);
    struct Feed {
        const char* key;
        const char* label;
        zmq::socket_t& socket;
        int& port;
    } feeds[] = {{"heave", "heave", heavepublisher, heavedata_pub},
                 {"vintor", "vintor", vintorpublisher, vintordata_pub},
                 {"reflection", "refl", reflpublisher, refldata_pub}};
    for (Feed& f : feeds) {
        f.port = cf->ValueInt("publishers", f.key);
        const std::string endpoint = feedAddress(f.port);
        if (debug != 0) std::printf("Starting %s publisher: %s\n", f.label, endpoint.c_str());
        f.socket.set(zmq::sockopt::ipv6, 1);
        // A taken port is tried again later, one that is none never: it was
        // said once. The other feeds and the valid-data share go on.
        if (!bindFeed(f.socket, endpoint, f.label, BindFailure::KeepGoing) && hasPortNumber(endpoint))
            unbound_.push_back({&f.socket, endpoint, f.label});
    }
    nextBindAttempt_ = getTime() + rebindMs;
    std::fflush(stdout);
    // Only records written after this start are new: a restarted stage must not
    // publish old lines again.
    radarlist_st input = StageLoop::newestOf(*storage, "h");
    data_index = input.index;
    recordCount_ = 0;
    loop.run(*storage, &input, 1, *this);
}
