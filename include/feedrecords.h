// Records of the radar program's binary feeds "fft", "peak" and "h": the same
// bytes sit in its rings and go out on the feeds, where other programs decode
// them, so the layout is defined here once and every size and offset pinned.
// Padding is what natural alignment gives on the targets (x86-64, ARM EABI);
// the asserts catch any platform where it differs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "defaults.h"

// The spectra of one measurement.
struct fft_st {
    char time[TIMESTRSIZE];
    int radnr;
    char section[10];
    int nrOfSweeps;
    float data[MAX_NR_OF_SWEEPS][MAX_FFT_BUFFER_SIZE];
    double energy[MAX_NR_OF_SWEEPS];
    int length;
    int nan;
};

// One reflection peak.
struct peak_struct {
    int bin;
    float height;
    float correction;
};

// The peaks of one measurement.
struct peak_st {
    char time[TIMESTRSIZE];
    int radnr;
    char section[10];
    int nrOfSweeps;
    peak_struct data[MAX_NR_OF_SWEEPS][MAX_NR_OF_PEAKS];
    int nrOfPeaks[MAX_NR_OF_SWEEPS];
    double energy[MAX_NR_OF_SWEEPS];
    int fft_key;
    int minimumbin;
    int maximumbin;
    int windowdown;
    int windowup;
    int nan;
};

// Distance, height and Doppler result of one measurement.
struct heave_st {
    char time[TIMESTRSIZE];
    int radnr;
    char section[10];
    int nrOfSweeps;
    int peak_key;
    int fft_key;
    float distance[MAX_NR_OF_SWEEPS];
    float distanceAvg;
    float VDoppler;
    float Dup;
    float Ddown;
    float Ep[MAX_NR_OF_SWEEPS];
    float energy[MAX_NR_OF_SWEEPS];
    int nan;
};

static_assert(sizeof(fft_st) == 17248, "fft_st size");
static_assert(offsetof(fft_st, time) == 0, "fft time");
static_assert(offsetof(fft_st, radnr) == 20, "fft radnr");
static_assert(offsetof(fft_st, section) == 24, "fft section");
static_assert(offsetof(fft_st, nrOfSweeps) == 36, "fft nrOfSweeps");
static_assert(offsetof(fft_st, data) == 40, "fft data");
static_assert(offsetof(fft_st, data[1]) == 40 + 4 * 2148, "fft data row 1");
static_assert(offsetof(fft_st, energy) == 17224, "fft energy");
static_assert(offsetof(fft_st, length) == 17240, "fft length");
static_assert(offsetof(fft_st, nan) == 17244, "fft nan");

static_assert(sizeof(peak_struct) == 12, "peak_struct size");
static_assert(offsetof(peak_struct, bin) == 0, "peak bin");
static_assert(offsetof(peak_struct, height) == 4, "peak height");
static_assert(offsetof(peak_struct, correction) == 8, "peak correction");

static_assert(sizeof(peak_st) == 1624, "peak_st size");
static_assert(offsetof(peak_st, time) == 0, "peak_st time");
static_assert(offsetof(peak_st, radnr) == 20, "peak_st radnr");
static_assert(offsetof(peak_st, section) == 24, "peak_st section");
static_assert(offsetof(peak_st, nrOfSweeps) == 36, "peak_st nrOfSweeps");
static_assert(offsetof(peak_st, data) == 40, "peak_st data");
static_assert(offsetof(peak_st, data[1]) == 40 + 12 * 64, "peak_st data row 1");
static_assert(offsetof(peak_st, nrOfPeaks) == 1576, "peak_st nrOfPeaks");
static_assert(offsetof(peak_st, energy) == 1584, "peak_st energy");
static_assert(offsetof(peak_st, fft_key) == 1600, "peak_st fft_key");
static_assert(offsetof(peak_st, minimumbin) == 1604, "peak_st minimumbin");
static_assert(offsetof(peak_st, maximumbin) == 1608, "peak_st maximumbin");
static_assert(offsetof(peak_st, windowdown) == 1612, "peak_st windowdown");
static_assert(offsetof(peak_st, windowup) == 1616, "peak_st windowup");
static_assert(offsetof(peak_st, nan) == 1620, "peak_st nan");

static_assert(sizeof(heave_st) == 92, "heave_st size");
static_assert(offsetof(heave_st, time) == 0, "heave time");
static_assert(offsetof(heave_st, radnr) == 20, "heave radnr");
static_assert(offsetof(heave_st, section) == 24, "heave section");
static_assert(offsetof(heave_st, nrOfSweeps) == 36, "heave nrOfSweeps");
static_assert(offsetof(heave_st, peak_key) == 40, "heave peak_key");
static_assert(offsetof(heave_st, fft_key) == 44, "heave fft_key");
static_assert(offsetof(heave_st, distance) == 48, "heave distance");
static_assert(offsetof(heave_st, distanceAvg) == 56, "heave distanceAvg");
static_assert(offsetof(heave_st, VDoppler) == 60, "heave VDoppler");
static_assert(offsetof(heave_st, Dup) == 64, "heave Dup");
static_assert(offsetof(heave_st, Ddown) == 68, "heave Ddown");
static_assert(offsetof(heave_st, Ep) == 72, "heave Ep");
static_assert(offsetof(heave_st, energy) == 80, "heave energy");
static_assert(offsetof(heave_st, nan) == 88, "heave nan");
