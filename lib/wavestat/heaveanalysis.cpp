#include "heaveanalysis.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "numeric.h"
#include "samples.h"
#include "sensor.h"

SpectralHeaveAnalysis::SpectralHeaveAnalysis(const WaveSensor* sensor) : SpectralAnalysis(sensor)
{
    czz.reset(new (std::nothrow) float[sCnt / 2]);
    series.reset(new (std::nothrow) float[sCnt / 4]);
    bool complete = czz && series;
    for (auto& s : spectra) {
        s.reset(new (std::nothrow) Spectrum(sCnt));
        complete = complete && s && !s->GetError();
    }
    error = complete ? 0 : 1;
    Clear();
}

void SpectralHeaveAnalysis::Clear()
{
    ClearCZZ();
    ClearSpectrum();
    ClearQuality();
    ClearParameters();
}

void SpectralHeaveAnalysis::ClearCZZ()
{
    if (czz)
        std::fill_n(czz.get(), sCnt / 2, MISSING_VALUE);
    if (series)
        std::fill_n(series.get(), sCnt / 4, MISSING_VALUE);
}

void SpectralHeaveAnalysis::ClearSpectrum()
{
    for (auto& s : spectra)
        if (s)
            s->Clear();
}

void SpectralHeaveAnalysis::ClearQuality()
{
    std::fill(std::begin(quality), std::end(quality), MISSING_VALUE);
}

void SpectralHeaveAnalysis::ClearParameters()
{
    std::fill(std::begin(parameters), std::end(parameters), MISSING_VALUE);
}

float SpectralHeaveAnalysis::GetParameter(int code) const
{
    if (code < FIRST_PARAMETER || code > LAST_PARAMETER)
        return MISSING_VALUE;
    return parameters[code - FIRST_PARAMETER];
}

float SpectralHeaveAnalysis::GetQuality(int code) const
{
    if (code < FIRST_QUALITY || code > LAST_QUALITY)
        return MISSING_VALUE;
    return quality[code - FIRST_QUALITY];
}

void SpectralHeaveAnalysis::Process(SampleAnalysis* samples, const Complex* twiddles, float taper)
{
    if (error)
        return;
    const float* values = samples->GetD(0);
    const int32_t* flags = samples->GetQ(0);
    for (int i = 0; i < SUBSERIESCOUNT; ++i)
        spectra[i]->CalcSpectrum(values + i * sCnt, flags + i * sCnt, twiddles, taper);

    const int count = AddCZZ();
    AddQuality(samples->GetSamplesPair(0), count);
    if (count == 0)
        return;

    // Mean power per bin of a 200 s transform scaled by 2/N becomes variance
    // per Hz: x 200 s / 2.
    float* c = czz.get();
    const float toDensity = 200.0f / static_cast<float>(count) / 2.0f;
    for (int k = 1; k < sCnt / 2; ++k)
        c[k] *= toDensity;
    sensor->CorrectHeave(5, sCnt / 2, c);
    sensor->CorrectTide(5, sCnt / 2, c);

    series[0] = 0.0f;
    for (int j = 1; j < sCnt / 4; ++j)
        series[j] = interpolate(c, j);

    CalcParameters(count);
}

int SpectralHeaveAnalysis::AddCZZ()
{
    float* c = czz.get();
    c[0] = 0.0f;
    int count = 0;
    for (const auto& s : spectra) {
        if (!s->GetValid())
            continue;
        for (int k = 1; k < sCnt / 2; ++k) {
            const Complex& x = s->Get(k);
            const float p = x.re * x.re + x.im * x.im;
            c[k] = count == 0 ? p : c[k] + p;
        }
        ++count;
    }
    return count;
}

void SpectralHeaveAnalysis::AddQuality(SamplesPair* pair, int count)
{
    const int total = SUBSERIESCOUNT * sCnt;
    quality[0] = static_cast<float>(count);
    quality[1] = static_cast<float>(total - pair->GetErrorCount()) * 100.0f / static_cast<float>(total);
    quality[2] = static_cast<float>(pair->GetDelta4Errors());
    quality[3] = static_cast<float>(pair->GetSigma4Errors());
    quality[4] = static_cast<float>(pair->GetSigma0Errors());
    quality[5] = static_cast<float>(pair->GetRepairCount());
}

namespace {

enum BandValue { ENERGY, HEIGHT, TM02, TM10, PEAK };

struct BandParameter {
    int code;
    BandValue value;
    int lo, hi;     // mHz
    bool needs2_56; // reaches 1000 mHz: only the 2.56 Hz sensors
};

// The band parameters of the 10 mHz series.
const BandParameter BAND_PARAMETERS[] = {
    {1002, ENERGY, 30, 500, false},  {1003, HEIGHT, 30, 500, false},  {1004, ENERGY, 30, 1000, true},
    {1005, HEIGHT, 30, 1000, true},  {1006, TM02, 30, 500, false},    {1007, TM02, 30, 1000, true},
    {1008, ENERGY, 500, 1000, true}, {1009, ENERGY, 200, 500, false}, {1010, ENERGY, 200, 1000, true},
    {1011, ENERGY, 100, 200, false}, {1012, ENERGY, 30, 100, false},  {1013, HEIGHT, 200, 500, false},
    {1014, HEIGHT, 100, 200, false}, {1015, HEIGHT, 30, 100, false},  {1016, PEAK, 30, 500, false},
    {1017, PEAK, 30, 1000, true},    {1019, TM10, 30, 500, false},    {1020, TM10, 30, 1000, true},
};

} // namespace

void SpectralHeaveAnalysis::CalcParameters(int count)
{
    const float* s = series.get();
    const int b = 10;
    for (const BandParameter& p : BAND_PARAMETERS) {
        if (p.needs2_56 && sCnt < 512)
            continue;
        float v = MISSING_VALUE;
        switch (p.value) {
        case ENERGY: v = BandEnergy(s, p.lo, p.hi, b); break;
        case HEIGHT: v = 4.0f * fsqrt(BandEnergy(s, p.lo, p.hi, b)); break;
        case TM02: v = AveragePeriod(s, p.lo, p.hi, b); break;
        case TM10: v = MinusFirstMomentPeriod(s, p.lo, p.hi, b); break;
        case PEAK:
            v = PeakFrequency(s, p.lo, p.hi, b);
            if (v != MISSING_VALUE)
                v *= 1000.0f;
            break;
        }
        parameters[p.code - FIRST_PARAMETER] = v;
    }
    // Height from the 5 mHz spectrum up to 140 mHz with that bin at full weight.
    const float* c = czz.get();
    parameters[1018 - FIRST_PARAMETER] = 4.0f * fsqrt(BandEnergy(c, 30, 140, 5) + c[28] / 2.0f * 5.0f / 1000.0f);
    parameters[1021 - FIRST_PARAMETER] = 4.0f * static_cast<float>(count);
}
