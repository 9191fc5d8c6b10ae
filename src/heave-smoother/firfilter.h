// FIR filter of the heave smoother: coefficients, a delay line of the same length
// and a one-sample step. Built from a coefficient file (one number per line) or
// designed: windowless-sinc or Parks-McClellan low-pass, sinc band-pass.
#pragma once

#include <cstdio>

constexpr int FIR_MAX_TAPS = 50000;
// Characters of one line of a coefficient file, its line end not counted: a
// coefficient written out in full ("%1.19f", "%.17e") takes some 25.
constexpr int FIR_MAX_LINE = 255;

// Error codes, checked in this order; 0 = ready.
enum FirError {
    FIR_LOWPASS_FS = -1,        // fs <= 0
    FIR_LOWPASS_FLOW = -2,      // fLow <= 0 or fLow >= fs / 2
    FIR_TAPS = -3,              // taps out of 1..50000, or a coefficient file that is not one number per line
                                // or has a line longer than FIR_MAX_LINE
    FIR_ALLOCATION = -4,
    FIR_LOWPASS_TYPE = -5,      // type neither 0 nor 1
    FIR_DESIGN = -6,            // the Parks-McClellan design was refused
    FIR_BANDPASS_FS = -10,
    FIR_BANDPASS_ORDER = -11,   // fLow >= fHigh
    FIR_BANDPASS_FLOW = -12,
    FIR_BANDPASS_FHIGH = -13,
    FIR_BANDPASS_TAPS = -14,
    FIR_BANDPASS_ALLOCATION = -15,
    FIR_BANDPASS_TYPE = -16,
};

class FirFilter {
public:
    // One coefficient per line; prints "\nfile: <path>\n" and "Filter has <n> taps.\n"
    // (the lines read up to one past the limit, or up to one that is too long).
    explicit FirFilter(const char* filename);
    // type 0: windowless sinc; type 1: Parks-McClellan with fixed bands.
    FirFilter(int type, int taps, double fs, double fLow);
    // type 2: difference of two sincs.
    FirFilter(int type, int taps, double fs, double fLow, double fHigh);
    ~FirFilter();
    FirFilter(const FirFilter&) = delete;
    FirFilter& operator=(const FirFilter&) = delete;

    int tapCount() const { return taps; }
    int getError() const { return error; }
    // Clears the delay line.
    void reset();
    // Takes x as the newest input; the sum of coefficient[i] x input i steps back,
    // added from i = 0 up. 0 in error state.
    double sample(double x);
    void copyTaps(double* out) const;
    // A count line, then "%1.19f" per coefficient; 0, or -1.
    int writeTaps(const char* filename) const;
    // 10000 lines "frequency dB" from 0 to fs / 2; 0, -1 error state, -2 no
    // response above 0, -3 file not created.
    int writeResponse(const char* filename) const;

private:
    bool allocate(int allocationError);
    void designSinc(double lower, double upper);
    int readCoefficients(FILE* f, const char* filename);

    int type = 0;
    int taps = 0;
    int error = 0;
    double fs = 0.0;
    double fLow = 0.0;
    double lambda = 0.0;
    double* coefficients = nullptr;
    // Ring: the newest input sits at newest, older ones follow it, wrapping.
    double* delayLine = nullptr;
    double fHigh = 0.0;
    double phi = 0.0;
    int newest = 0;
};
