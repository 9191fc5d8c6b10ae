// chain-replay <configport> <recording> <output>: every sweep pair of a replay
// recording through vintor's chain, in one process and in order: the radar's
// file replay, then the record step of the FFT, peak, height and
// subscriptions stages, each with its settings from the configuration service
// at <configport> and at debug level 0. For every pair <output> gets the
// digest of the fft, peak and h records and the vintor and heave lines:
//
//   fft <16 hex digits>
//   peak <16 hex digits>
//   h <16 hex digits>
//   vintor: <line>
//   heave: <line>
//
// (a digest is the 64-bit FNV-1a hash of the record's bytes). The rings'
// slot numbers, which the records carry, are those of a fresh start. A
// recording that does not open or gives no sweep pair ends it with 1: an
// empty output would pass for a chain that makes nothing of it.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "configfile.h"
#include "fft.h"
#include "h.h"
#include "numbers.h"
#include "peak.h"
#include "radar.h"
#include "subscriptions.h"

namespace {

uint64_t digest(const void* bytes, std::size_t size) {
    uint64_t h = 14695981039346656037ULL;
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < size; ++i) {
        h ^= p[i];
        h *= 1099511628211ULL;
    }
    return h;
}

// The slot an add writes after `last`, as SharedMem counts them.
int nextSlot(int last) { return last + 1 < MEMCACHE_MAX_INDEX ? last + 1 : 0; }

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    if (argc != 4 || !parsePortNumber(argv[1], &port)) {
        std::fprintf(stderr, "usage: chain-replay <configport> <recording> <output>\n");
        return 2;
    }
    ConfigFile cf(port, 0);
    if (cf.readConfig() != 0) {
        std::fprintf(stderr, "chain-replay: no usable configuration from port %s\n", argv[1]);
        return 1;
    }
    // The file replay takes a recording that does not open for one at its end.
    if (FILE* recording = std::fopen(argv[2], "r")) {
        std::fclose(recording);
    } else {
        std::fprintf(stderr, "chain-replay: cannot open the recording %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    cf.setValue("radar0", "brand", std::string("readfile"));
    cf.setValue("radar0", "filename", std::string(argv[2]));
    FILE* out = std::fopen(argv[3], "w");
    if (out == nullptr) {
        std::perror(argv[3]);
        return 1;
    }

    // Each stage has its own copy of the configuration, as each stage process
    // has: the values a stage derives and writes back stay its own.
    ConfigFile radarConfig(cf), fftConfig(cf), peakConfig(cf), heightConfig(cf), linesConfig(cf);
    RadarClass radar(&radarConfig, "radar0");
    if (radar.open() != 0) return 1;
    // The stages keep their working records from record to record, as their loops do.
    std::unique_ptr<FFTClass> fft(new FFTClass(&fftConfig));
    std::unique_ptr<fft_st> spectrum(new fft_st());
    std::unique_ptr<PeakClass> peak(new PeakClass(&peakConfig));
    std::unique_ptr<peak_st> peaks(new peak_st());
    std::unique_ptr<HClass> heights(new HClass(&heightConfig));
    std::unique_ptr<SubscriptionsClass> lines(new SubscriptionsClass(&linesConfig));
    status_st status{};
    int fSlot = 0, pSlot = 0;

    int64_t pacing = 0;
    int result = 0;
    long pairs = 0;
    for (; radar.acquire(&pacing, &result); ++pairs) {
        fft->processRecord(radar.record(), *spectrum);
        fSlot = nextSlot(fSlot);
        peak->processRecord(*spectrum, fSlot, *peaks);
        pSlot = nextSlot(pSlot);
        std::memcpy(&heights->data_peak, peaks.get(), sizeof(peak_st));
        heights->handleRecord(pSlot, status);
        std::memcpy(&lines->data_heave, &heights->data_heave, sizeof(heave_st));
        lines->setVars(lines->data_heave.section);
        char vintor[VINTOR_FRAME_SIZE], heave[HEAVE_FRAME_SIZE];
        lines->composeVintor(vintor);
        lines->composeHeave(heave);
        std::fprintf(out, "fft %016" PRIx64 "\npeak %016" PRIx64 "\nh %016" PRIx64 "\nvintor: %s\nheave: %s\n",
                     digest(spectrum.get(), sizeof(fft_st)), digest(peaks.get(), sizeof(peak_st)),
                     digest(&heights->data_heave, sizeof(heave_st)), vintor, heave);
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[3]);
        return 1;
    }
    if (pairs == 0) {
        std::fprintf(stderr, "chain-replay: no sweep pair in %s\n", argv[2]);
        return 1;
    }
    return 0;
}
