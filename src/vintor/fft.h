// FFT stage: every new sweep record of every listed radar becomes a spectrum
// record in ring "f" and on feed "fft".
#pragma once

#include <cstdint>
#include <vector>

#include "defaults.h"
#include "integer_fft.h"
#include "records.h"
#include "sectioncache.h"
#include "stageloop.h"
#include "timer.h"

class ConfigFile;
class SharedMem;

// Room for the samples of one sweep: the largest serial payload.
constexpr int FFT_WORK_SIZE = 8292;

class FFTClass : public FixedFft, private ChainStage {
public:
    ConfigFile* cf;
    std::vector<radarlist_st> radar_list;

    int debug = 0;
    // Semaphore keys of the hand-over; tests give private ones.
    int semFftKey = KEYFFT;
    int semPeakKey = KEYPEAK;

    explicit FFTClass(ConfigFile* cfp);

    // The stage's loop; returns only if it cannot run.
    int generateFFT();

    // Turns one sweep record into the spectrum record `out`. Fields that the
    // record does not set (rows of a record without sweeps) keep what `out` held.
    void processRecord(const radar_st& in, fft_st& out);

    // Builds the radar list from the shared "radars" text.
    void buildRadarList(const char* text);

    fixed fft_real[FFT_WORK_SIZE];
    fixed fft_imag[FFT_WORK_SIZE];
    int64_t f_pow[MAX_FFT_BUFFER_SIZE];

private:
    // One sweep record of a radar ring, in the stage's loop.
    void onRecord(const void* record, int slot) override;
    void traceRead(const radarlist_st& ring, int last, int slot) override;
    void tracePosted(int outputSem, int inputSem) override;
    StageFeed<fft_st>* feed_ = nullptr;
    SharedMem* sm_ = nullptr;

    // Sample count of sweep s and where its 16-bit words begin (host order,
    // or little-endian bytes); no words for 32-bit samples.
    int sweepWords(const radar_st& in, int s, const unsigned char** words, bool* littleEndian);
    // Fills fft_real/fft_imag with the sweep's samples; returns the mean of their squares.
    int64_t convertSweep(const radar_st& in, int length, const unsigned char* words, bool littleEndian);
    // The spectrum row of sweep s from fft_real/fft_imag, or, given words16,
    // straight from those 16-bit words (their energy too).
    void spectrumOfSweep(const radar_st& in, int s, int length, int64_t energyIn, const unsigned char* words16,
        fft_st& out);
    // The steps of spectrumOfSweep: window and transform (the scale), then the
    // normalised power row.
    int transformSweep(const radar_st& in, int length, int m, const unsigned char* words16, int64_t* energyIn,
        bool* inLanes);
    void powerOfSweep(int length, int scale, bool inLanes, int64_t energyIn, float* row);
    void printSamples(const char* label, int length);
    void printRaw(const radar_st& in);
    // Whether the section of the record asks for the window.
    bool windowed(const radar_st& in);
    SectionCache<bool> hennOf;

    // Time stamps of the last sweep for the debug timing line: start,
    // conversion, transform, powers, spectrum.
    void stamp(int i)
    {
        if (debug != 0)
            stamps[i] = getTime();
    }
    double stamps[5] = {0, 0, 0, 0, 0};

    // Set while the samples of the sweep being converted fit 16 bits, so no power can overflow.
    bool narrowSamples = true;
    const char* timeText = "";
};
