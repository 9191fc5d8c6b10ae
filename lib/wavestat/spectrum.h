// Fourier coefficients of one 200-second sub-series, the twiddle table the
// transform uses, and the 10 mHz resampling of 5 mHz spectra.
#pragma once

#include <cstdint>
#include <memory>

#include "wavedefs.h"

struct Complex {
    float re = 0.0f;
    float im = 0.0f;

    Complex() = default;
    Complex(float re, float im) : re(re), im(im) {}

    Complex operator+(const Complex& o) const { return {re + o.re, im + o.im}; }
    Complex operator-(const Complex& o) const { return {re - o.re, im - o.im}; }
    Complex operator*(const Complex& o) const { return {re * o.re - im * o.im, re * o.im + im * o.re}; }
    Complex operator*(float f) const { return {re * f, im * f}; }
    Complex operator/(float f) const { return {re / f, im / f}; }
};

// Fills table[0 .. n-1] with e^{i pi k / n} (half a turn, positive sense);
// n = 512 takes its sines from the station's constant table.
void FillFFTTable(Complex* table, int n);

// One sub-series transform: N = the sensor's samples per 200 s, bin k at k x 5 mHz.
class Spectrum {
public:
    explicit Spectrum(int n);
    virtual ~Spectrum() = default;

    // Invalid, every bin (missing, 0).
    void Clear();
    const Complex& Get(int k) const { return bins[k]; }
    int GetValid() const { return valid; }
    int GetError() const { return error; }

    // Transforms N consecutive samples (values and their flags): mean
    // removed, cosine taper of the fraction `taper` at each end, radix-2
    // transform with the positive exponent, scaled by 2/N.  Returns non-zero
    // when the sub-series is rejected (a missing value, or too many repaired
    // samples close together); the spectrum then stays invalid.
    int CalcSpectrum(const float* values, const int32_t* flags, const Complex* twiddles, float taper);

private:
    void Transform(const Complex* twiddles);

    int N;
    std::unique_ptr<Complex[]> bins;
    int valid = 0;
    int error = 0;
};

// Entry j of a 10 mHz series from the 5 mHz series s.
float interpolate(const float* s, int j);
