// Directional spectral analysis: heave and two horizontal signals averaged
// into co- and quad-spectra, reduced per frequency to the circular Fourier
// coefficients a1, b1, a2, b2 of the directional distribution, and from them
// to mean direction, spread and the shape of 15 frequency bands (codes 4000
// to 4011, 5000 to 5006) with the quality values 6000 to 6010.  Angles are in
// degrees; which axes the horizontal signals are, and so where 0 degrees
// lies, is the caller's: the analysis adds theta0 and nothing else.
#pragma once

#include <memory>

#include "heaveanalysis.h"
#include "spectralanalysis.h"
#include "spectrum.h"

class SampleAnalysis;
class SamplesPair;

// atan2(y, x) in 0 .. 2 pi; missing when y or x is 0.
float NauPhi(float y, float x);
// Mean direction of the coefficient pair (a, b) plus theta0, in 0 .. 360;
// missing when theta0 is the missing value or not finite.
float CalcTh0(float a, float b, float theta0);
// Directional spread sqrt(2 (1 - r)), r = |(a, b)|; missing when r >= 1.
float CalcS0bh(float a, float b);
// Skewness and kurtosis of the directional distribution from the band's
// first and second coefficients.
float CalcG1(float A1, float B1, float A2, float B2);
float CalcG2(float A1, float B1, float A2, float B2);

class SpectralDirAnalysis : public SpectralAnalysis {
public:
    static constexpr int BANDS = 15;
    static constexpr int PEAK_BAND = 14;
    static constexpr int FIRST_ARRAY = 4000, LAST_ARRAY = 4006;
    static constexpr int FIRST_PARAMETER = 4007, LAST_PARAMETER = 4011;
    static constexpr int FIRST_BAND = 5000, LAST_BAND = 5006;
    static constexpr int FIRST_QUALITY = 6000, LAST_QUALITY = 6010;

    // Co- and quad-spectra in the order the sensor corrections take them.
    enum CoQuad { C11, C22, C33, C12, C13, C23, Q12, Q13, COQUAD_COUNT };

    explicit SpectralDirAnalysis(const WaveSensor* sensor);
    virtual ~SpectralDirAnalysis() = default;

    // Every value to the missing marker, the 18 spectra invalid.
    virtual void Clear();
    // Analyses signals 0 to 2 of the cleaned working series.
    void Process(SampleAnalysis* samples, const Complex* twiddles, float theta0, float taper);
    int GetError() const { return error; }

    // Codes 4000 to 4004 hold N/2 values, 4005 and 4006 N/4; null for another code.
    const float* GetArray(int code) const;
    int GetArrayCount(int code) const;
    // Codes 4007 to 4011; the missing marker for another code.
    float GetParameter(int code) const;
    // Codes 5000 to 5006: the 15 bands in order; null for another code.
    const float* GetBand(int code) const;
    // Codes 6000 to 6010; the missing marker for another code.
    float GetQuality(int code) const;
    const float* GetCoQuad(CoQuad which) const { return coquad[which]; }
    const Spectrum& GetSpectrum(int sub, int signal) const { return *spectra[sub][signal]; }

    // m0^2 / (band integral of S^2) x 2 (1 - taper) x valid triples: the
    // degrees of freedom of the band's estimate.
    float DegreesFreeEnergy(const float* s, int lo, int hi, float taper, int b) const;

private:
    int AddCoQuad();
    void AddQuality(SampleAnalysis* samples, int count);
    void CalcCoefficients(float theta0);
    void CalcBand(float theta0, float taper);
    void CalcGroup(int band, int lo, int hi, float theta0, float taper);

    std::unique_ptr<Spectrum> spectra[SUBSERIESCOUNT][3];
    // One allocation for every array below.
    std::unique_ptr<float[]> storage;
    float* coquad[COQUAD_COUNT] = {};
    // a1, b1, a2, b2, k at 5 mHz: codes 4000 to 4004.
    float* coef[5] = {};
    // At 10 mHz: C11, a1, b1, then codes 4005 (direction) and 4006 (spread).
    float* c11Series = nullptr;
    float* a1Series = nullptr;
    float* b1Series = nullptr;
    float* direction = nullptr;
    float* spread = nullptr;
    float parameters[LAST_PARAMETER - FIRST_PARAMETER + 1];
    float bands[LAST_BAND - FIRST_BAND + 1][BANDS];
    float quality[LAST_QUALITY - FIRST_QUALITY + 1];
    int validTriples = 0;
    int error = 1;
};
