// Writes a replay recording: pairs of "raw=" lines (up sweep, then down sweep)
// holding the beat tone an FMCW radar sees from one water surface at a chosen
// distance, optionally moving up and down like a slow wave, with noise.
//
// Everything follows from the radar constants: the beat frequency of a target
// at distance d is 2 * d * DEF_sweepSpeed / DEF_speedOfLight, sampled at
// DEF_sampleFrequency; a moving surface shifts the up sweep's beat down and the
// down sweep's beat up by its Doppler frequency.
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "defaults.h"

namespace {

// Sweep speed over carrier frequency, the factor that turns half the up/down
// distance difference (cm) into the surface's vertical speed (cm/s). The
// generator keeps its own value in double precision: it models the physics the
// radar chain is tested against, and the bundled recording depends on it.
constexpr double kDopplerFactor = 4.3516097;
constexpr int kMaxSamples = 300;

struct Options {
    double distanceCm = 1000.0;   // radar to still water
    double waveAmplitudeCm = 0.0; // 0: the surface stands still
    double wavePeriodS = 8.0;
    int pairs = 100;
    long long startMs = 1700000000000LL;
    int intervalMs = 250;         // between pairs
    int samples = 256;
    double signal = 2000.0;       // tone amplitude in ADC counts
    double noise = 30.0;          // standard deviation in ADC counts
    unsigned long long seed = 1;
    std::string name = "replaygen";
    std::string output;           // empty: standard output
};

// splitmix64: small, fully specified, so a recording regenerates byte for byte.
struct Random {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    double uniform() { return ((next() >> 11) + 0.5) * (1.0 / 9007199254740992.0); }
    double gaussian() {
        double u1 = uniform(), u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
    }
};

void usage(const char* prog) {
    std::fprintf(stderr,
                 "usage: %s [-d distance_cm] [-a wave_amplitude_cm] [-T wave_period_s]\n"
                 "          [-n pairs] [-t start_epoch_ms] [-i interval_ms] [-s samples]\n"
                 "          [-A signal_counts] [-N noise_counts] [-r seed] [-m name] [-o file]\n",
                 prog);
}

bool toDouble(const char* s, double* out) {
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(s, &end);
    if (errno != 0 || end == s || *end != '\0' || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

bool toLong(const char* s, long long* out) {
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s, &end, 10);
    if (errno != 0 || end == s || *end != '\0') return false;
    *out = v;
    return true;
}

bool parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (a[0] != '-' || a[1] == '\0' || a[2] != '\0' || i + 1 >= argc) return false;
        const char* v = argv[++i];
        double d = 0;
        long long l = 0;
        switch (a[1]) {
        case 'd': if (!toDouble(v, &o->distanceCm) || o->distanceCm <= 0) return false; break;
        case 'a': if (!toDouble(v, &o->waveAmplitudeCm) || o->waveAmplitudeCm < 0) return false; break;
        case 'T': if (!toDouble(v, &o->wavePeriodS) || o->wavePeriodS <= 0) return false; break;
        case 'n': if (!toLong(v, &l) || l < 1 || l > 1000000) return false; o->pairs = int(l); break;
        case 't': if (!toLong(v, &l) || l < 0) return false; o->startMs = l; break;
        case 'i': if (!toLong(v, &l) || l < 1 || l > 3600000) return false; o->intervalMs = int(l); break;
        case 's': if (!toLong(v, &l) || l < 1 || l > kMaxSamples) return false; o->samples = int(l); break;
        case 'A': if (!toDouble(v, &d) || d < 0) return false; o->signal = d; break;
        case 'N': if (!toDouble(v, &d) || d < 0) return false; o->noise = d; break;
        case 'r': if (!toLong(v, &l) || l < 0) return false; o->seed = (unsigned long long)l; break;
        case 'm': if (std::strlen(v) == 0 || std::strlen(v) > 39 || std::strpbrk(v, ";,\n")) return false;
                  o->name = v; break;
        case 'o': o->output = v; break;
        default: return false;
        }
    }
    return true;
}

// One sweep line: the beat tone of apparent distance dCm plus noise.
void writeSweep(FILE* out, const Options& o, Random& rnd, long long timeMs, long sweepNr,
                double dCm, double carrierPhase) {
    const double beatHzPerCm = 2.0 * double(DEF_sweepSpeed) / double(DEF_speedOfLight) / 100.0;
    const double beatHz = beatHzPerCm * dCm;
    const double fs = double(DEF_sampleFrequency);
    std::fprintf(out, "raw=%s;%lld;%ld;", o.name.c_str(), timeMs, sweepNr);
    for (int i = 0; i < o.samples; ++i) {
        double v = o.signal * std::cos(2.0 * M_PI * beatHz * i / fs + carrierPhase) +
                   o.noise * rnd.gaussian();
        long s = std::lround(v);
        if (s > 32767) s = 32767;
        if (s < -32768) s = -32768;
        std::fprintf(out, i == 0 ? "%ld" : ",%ld", s);
    }
    std::fputc('\n', out);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, &o)) {
        usage(argv[0]);
        return 2;
    }
    FILE* out = stdout;
    if (!o.output.empty()) {
        out = std::fopen(o.output.c_str(), "w");
        if (out == nullptr) {
            std::perror(o.output.c_str());
            return 1;
        }
    }
    Random rnd{o.seed};
    const double carrierHz = double(DEF_sweepSpeed) / kDopplerFactor;
    const double sweepMs = o.samples * double(DEF_timePerSample) * 1000.0;
    const double omega = 2.0 * M_PI / o.wavePeriodS;
    for (int p = 0; p < o.pairs; ++p) {
        const long long t = o.startMs + (long long)p * o.intervalMs;
        const double ts = (t - o.startMs) / 1000.0;
        // Surface height above its mean (cm) and its upward speed (cm/s).
        const double h = o.waveAmplitudeCm * std::sin(omega * ts);
        const double v = o.waveAmplitudeCm * omega * std::cos(omega * ts);
        const double d = o.distanceCm - h;
        // A surface moving up shortens the up sweep's apparent distance and
        // lengthens the down sweep's by the same amount.
        const double shift = v / kDopplerFactor;
        const double phase = std::fmod(4.0 * M_PI * carrierHz * (d / 100.0) /
                                       double(DEF_speedOfLight), 2.0 * M_PI);
        writeSweep(out, o, rnd, t, 2L * p, d - shift, phase);
        writeSweep(out, o, rnd, t + std::lround(sweepMs), 2L * p + 1, d + shift, phase);
    }
    if (std::fflush(out) != 0 || (out != stdout && std::fclose(out) != 0)) {
        std::perror("write");
        return 1;
    }
    return 0;
}
