// Heave spectral analysis: the spectra of the six 200-second sub-series of
// the heave signal averaged into a variance density spectrum CZZ (unit^2/Hz
// at k x 5 mHz), corrected for the sensor, resampled to 10 mHz, and reduced to
// band parameters (codes 1000 to 1021) and quality values (3000 to 3005).
#pragma once

#include <memory>

#include "spectralanalysis.h"
#include "spectrum.h"

class SampleAnalysis;
class SamplesPair;

// Sub-series per 1200-second record.
constexpr int SUBSERIESCOUNT = 6;

class SpectralHeaveAnalysis : public SpectralAnalysis {
public:
    static constexpr int FIRST_PARAMETER = 1002;
    static constexpr int LAST_PARAMETER = 1021;
    static constexpr int FIRST_QUALITY = 3000;
    static constexpr int LAST_QUALITY = 3005;

    explicit SpectralHeaveAnalysis(const WaveSensor* sensor);
    virtual ~SpectralHeaveAnalysis() = default;

    // Analyses signal 0 of the cleaned working series with the context's
    // twiddle table and taper fraction.
    virtual void Process(SampleAnalysis* samples, const Complex* twiddles, float taper);

    int GetError() const { return error; }

    // Everything to the missing marker, the spectra invalid.
    void Clear();
    void ClearCZZ();
    void ClearSpectrum();
    void ClearQuality();
    void ClearParameters();

    // Code 1000: N/2 values; code 1001: N/4 values.
    const float* GetCZZ() const { return czz.get(); }
    const float* GetSeries() const { return series.get(); }
    int GetCZZCount() const { return sCnt / 2; }
    int GetSeriesCount() const { return sCnt / 4; }
    // Codes 1002 to 1021 and 3000 to 3005; the missing marker for another code.
    float GetParameter(int code) const;
    float GetQuality(int code) const;
    const Spectrum& GetSpectrum(int i) const { return *spectra[i]; }

private:
    int AddCZZ();
    void AddQuality(SamplesPair* pair, int count);
    void CalcParameters(int count);

    std::unique_ptr<Spectrum> spectra[SUBSERIESCOUNT];
    std::unique_ptr<float[]> czz;
    std::unique_ptr<float[]> series;
    float parameters[LAST_PARAMETER - FIRST_PARAMETER + 1];
    float quality[LAST_QUALITY - FIRST_QUALITY + 1];
    int error = 1;
};
