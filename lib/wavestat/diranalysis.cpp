#include "diranalysis.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <new>

#include "numeric.h"
#include "samples.h"
#include "sensor.h"

namespace {

constexpr float DEGREES_PER_RADIAN = 57.29578f;
constexpr float TWO_PI = 6.2831853f;
// Bins below 5 mHz x 5 are never analysed.
constexpr int FIRST_BIN = 5;

// Band edges (mHz); band 14 follows the spectral peak.
const int BAND_EDGES[SpectralDirAnalysis::BANDS - 1][2] = {
    {30, 45},   {45, 60},   {60, 85},   {85, 100}, {100, 125}, {125, 165}, {165, 200},
    {200, 250}, {250, 335}, {335, 500}, {30, 500}, {200, 500}, {100, 200}, {30, 100},
};

} // namespace

float NauPhi(float y, float x)
{
    if (y == 0.0f || x == 0.0f)
        return MISSING_VALUE;
    const float phi = std::atan2(y, x);
    return phi < 0.0f ? phi + TWO_PI : phi;
}

float CalcTh0(float a, float b, float theta0)
{
    if (a == MISSING_VALUE || b == MISSING_VALUE || std::fabs(theta0) == MISSING_VALUE)
        return MISSING_VALUE;
    const float phi = NauPhi(-a, -b);
    if (phi == MISSING_VALUE)
        return MISSING_VALUE;
    // The whole turns of a large offset would swallow the direction in the
    // sum.  fmod is exact: an offset of less than a turn stays as it is, and
    // below, the wrap equals adding or subtracting 360 until in range.
    theta0 = std::fmod(theta0, 360.0f);
    float theta = std::fmod(phi * DEGREES_PER_RADIAN + theta0, 360.0f);
    if (theta < 0.0f)
        theta += 360.0f;
    if (theta >= 360.0f)
        theta -= 360.0f;
    return IsPresent(theta) ? theta : MISSING_VALUE;
}

float CalcS0bh(float a, float b)
{
    if (a == MISSING_VALUE || b == MISSING_VALUE)
        return MISSING_VALUE;
    const float r = std::sqrt(a * a + b * b);
    return r < 1.0f ? fsqrt(2.0f * (1.0f - r)) * DEGREES_PER_RADIAN : MISSING_VALUE;
}

float CalcG1(float A1, float B1, float A2, float B2)
{
    if (A1 == 0.0f || B1 == 0.0f)
        return MISSING_VALUE;
    const float phi = std::atan2(B1, A1);
    const float c = std::cos(2.0f * phi);
    const float s = std::sin(2.0f * phi);
    const float m = A2 * c + B2 * s;
    if (!(m < 1.0f))
        return MISSING_VALUE;
    const float root = fsqrt((1.0f - m) / 2.0f);
    const float f = root * root * root;
    return f != 0.0f ? -(B2 * c - A2 * s) / f : MISSING_VALUE;
}

float CalcG2(float A1, float B1, float A2, float B2)
{
    if (A1 == 0.0f || B1 == 0.0f)
        return MISSING_VALUE;
    const float r = std::sqrt(A1 * A1 + B1 * B1);
    if (!(r < 1.0f))
        return MISSING_VALUE;
    const float root = fsqrt(2.0f * (1.0f - r));
    const float e = root * root * root * root;
    if (e == 0.0f)
        return MISSING_VALUE;
    const float phi = std::atan2(B1, A1);
    return (6.0f - 8.0f * r + 2.0f * (A2 * std::cos(2.0f * phi) + B2 * std::sin(2.0f * phi))) / e;
}

SpectralDirAnalysis::SpectralDirAnalysis(const WaveSensor* sensor) : SpectralAnalysis(sensor)
{
    const int half = sCnt / 2;
    const int quarter = sCnt / 4;
    storage.reset(new (std::nothrow) float[(COQUAD_COUNT + 5) * half + 5 * quarter]);
    bool complete = storage != nullptr;
    if (complete) {
        float* p = storage.get();
        for (float*& a : coquad) {
            a = p;
            p += half;
        }
        for (float*& a : coef) {
            a = p;
            p += half;
        }
        for (float** a : {&c11Series, &a1Series, &b1Series, &direction, &spread}) {
            *a = p;
            p += quarter;
        }
    }
    for (auto& sub : spectra) {
        for (auto& s : sub) {
            s.reset(new (std::nothrow) Spectrum(sCnt));
            complete = complete && s && !s->GetError();
        }
    }
    error = complete ? 0 : 1;
    Clear();
}

void SpectralDirAnalysis::Clear()
{
    validTriples = 0;
    if (storage)
        std::fill_n(storage.get(), (COQUAD_COUNT + 5) * (sCnt / 2) + 5 * (sCnt / 4), MISSING_VALUE);
    for (auto& sub : spectra)
        for (auto& s : sub)
            if (s)
                s->Clear();
    std::fill(std::begin(parameters), std::end(parameters), MISSING_VALUE);
    std::fill(&bands[0][0], &bands[0][0] + sizeof bands / sizeof(float), MISSING_VALUE);
    std::fill(std::begin(quality), std::end(quality), MISSING_VALUE);
}

const float* SpectralDirAnalysis::GetArray(int code) const
{
    if (code < FIRST_ARRAY || code > LAST_ARRAY || !storage)
        return nullptr;
    if (code <= 4004)
        return coef[code - FIRST_ARRAY];
    return code == 4005 ? direction : spread;
}

int SpectralDirAnalysis::GetArrayCount(int code) const
{
    if (code < FIRST_ARRAY || code > LAST_ARRAY)
        return 0;
    return code <= 4004 ? sCnt / 2 : sCnt / 4;
}

float SpectralDirAnalysis::GetParameter(int code) const
{
    if (code < FIRST_PARAMETER || code > LAST_PARAMETER)
        return MISSING_VALUE;
    return parameters[code - FIRST_PARAMETER];
}

const float* SpectralDirAnalysis::GetBand(int code) const
{
    if (code < FIRST_BAND || code > LAST_BAND)
        return nullptr;
    return bands[code - FIRST_BAND];
}

float SpectralDirAnalysis::GetQuality(int code) const
{
    if (code < FIRST_QUALITY || code > LAST_QUALITY)
        return MISSING_VALUE;
    return quality[code - FIRST_QUALITY];
}

float SpectralDirAnalysis::DegreesFreeEnergy(const float* s, int lo, int hi, float taper, int b) const
{
    const float square = SquareEnergy(s, lo, hi, b);
    if (square == 0.0f)
        return MISSING_VALUE;
    const float m0 = BandEnergy(s, lo, hi, b);
    return m0 * m0 / square * 2.0f * (1.0f - taper) * static_cast<float>(validTriples);
}

void SpectralDirAnalysis::Process(SampleAnalysis* samples, const Complex* twiddles, float theta0, float taper)
{
    if (error || samples->GetLastSignal() < 2)
        return;
    for (int i = 0; i < SUBSERIESCOUNT; ++i)
        for (int j = 0; j < 3; ++j)
            spectra[i][j]->CalcSpectrum(samples->GetD(j) + i * sCnt, samples->GetQ(j) + i * sCnt, twiddles, taper);

    validTriples = AddCoQuad();
    AddQuality(samples, validTriples);
    if (validTriples == 0)
        return;

    // Mean cross power per bin of 200 s transforms, as density per Hz.
    const float toDensity = 200.0f / static_cast<float>(validTriples) / 2.0f;
    for (float* a : coquad)
        for (int k = FIRST_BIN; k < sCnt / 2; ++k)
            a[k] *= toDensity;
    sensor->CorrectCoQuad(FIRST_BIN, sCnt / 2, coquad);

    CalcCoefficients(theta0);
    CalcBand(theta0, taper);
}

int SpectralDirAnalysis::AddCoQuad()
{
    int count = 0;
    for (const auto& sub : spectra) {
        if (!sub[0]->GetValid() || !sub[1]->GetValid() || !sub[2]->GetValid())
            continue;
        for (int k = FIRST_BIN; k < sCnt / 2; ++k) {
            const Complex& x1 = sub[0]->Get(k);
            const Complex& x2 = sub[1]->Get(k);
            const Complex& x3 = sub[2]->Get(k);
            if (count == 0)
                for (float* a : coquad)
                    a[k] = 0.0f;
            coquad[C11][k] += x1.re * x1.re + x1.im * x1.im;
            coquad[C22][k] += x2.re * x2.re + x2.im * x2.im;
            coquad[C33][k] += x3.re * x3.re + x3.im * x3.im;
            // conj(Xa) Xb: real part co-, imaginary part quad-spectrum.
            coquad[C12][k] += x1.re * x2.re + x1.im * x2.im;
            coquad[C13][k] += x1.re * x3.re + x1.im * x3.im;
            coquad[C23][k] += x2.re * x3.re + x2.im * x3.im;
            coquad[Q12][k] += x1.re * x2.im - x1.im * x2.re;
            coquad[Q13][k] += x1.re * x3.im - x1.im * x3.re;
        }
        ++count;
    }
    return count;
}

void SpectralDirAnalysis::AddQuality(SampleAnalysis* samples, int count)
{
    const int total = SUBSERIESCOUNT * sCnt;
    quality[0] = static_cast<float>(count);
    for (int signal = 1; signal <= 2; ++signal) {
        SamplesPair* pair = samples->GetSamplesPair(signal);
        quality[signal] = static_cast<float>(total - pair->GetErrorCount()) * 100.0f / static_cast<float>(total);
        float* q = quality + 3 + 4 * (signal - 1);
        q[0] = static_cast<float>(pair->GetDelta4Errors());
        q[1] = static_cast<float>(pair->GetSigma4Errors());
        q[2] = static_cast<float>(pair->GetSigma0Errors());
        q[3] = static_cast<float>(pair->GetRepairCount());
    }
    parameters[4010 - FIRST_PARAMETER] = 4.0f * static_cast<float>(count);
}

void SpectralDirAnalysis::CalcCoefficients(float theta0)
{
    const float* c11 = coquad[C11];
    const float* c22 = coquad[C22];
    const float* c33 = coquad[C33];
    float* a1 = coef[0];
    float* b1 = coef[1];
    float* a2 = coef[2];
    float* b2 = coef[3];
    float* kRatio = coef[4];
    for (int k = FIRST_BIN; k < sCnt / 2; ++k) {
        if (c11[k] == 0.0f)
            continue;
        const float horizontal = c22[k] + c33[k];
        kRatio[k] = fsqrt(horizontal / c11[k]);
        if (kRatio[k] != 0.0f) {
            a1[k] = coquad[Q12][k] / (kRatio[k] * c11[k]);
            b1[k] = coquad[Q13][k] / (kRatio[k] * c11[k]);
        }
        if (horizontal != 0.0f) {
            a2[k] = (c22[k] - c33[k]) / horizontal;
            b2[k] = 2.0f * coquad[C23][k] / horizontal;
        }
    }
    parameters[4011 - FIRST_PARAMETER] = kRatio[20];

    const int lastSeries = std::min(50, sCnt / 4 - 1);
    for (int j = 3; j < sCnt / 4; ++j)
        c11Series[j] = interpolate(c11, j);
    for (int j = 3; j <= lastSeries; ++j) {
        if (c11Series[j] == 0.0f)
            continue;
        const float kr = fsqrt((interpolate(c22, j) + interpolate(c33, j)) / c11Series[j]);
        if (kr == 0.0f)
            continue;
        a1Series[j] = interpolate(coquad[Q12], j) / (c11Series[j] * kr);
        b1Series[j] = interpolate(coquad[Q13], j) / (c11Series[j] * kr);
        spread[j] = CalcS0bh(a1Series[j], b1Series[j]);
        direction[j] = CalcTh0(a1Series[j], b1Series[j], theta0);
    }

    const int b = 10;
    const float wide = BandEnergy(c11Series, 30, 500, b);
    if (wide != 0.0f) {
        const float A = FourCoefEnergy(a1Series, c11Series, 30, 500, b) / wide;
        const float B = FourCoefEnergy(b1Series, c11Series, 30, 500, b) / wide;
        parameters[4008 - FIRST_PARAMETER] = CalcS0bh(A, B);
        parameters[4007 - FIRST_PARAMETER] = CalcTh0(A, B, theta0);
    }
    const float low = BandEnergy(c11Series, 30, 100, b);
    if (low != 0.0f) {
        const float A = FourCoefEnergy(a1Series, c11Series, 30, 100, b) / low;
        const float B = FourCoefEnergy(b1Series, c11Series, 30, 100, b) / low;
        parameters[4009 - FIRST_PARAMETER] = CalcTh0(A, B, theta0);
    }
}

void SpectralDirAnalysis::CalcBand(float theta0, float taper)
{
    const int b = 5;
    for (int d = 0; d < PEAK_BAND; ++d)
        CalcGroup(d, BAND_EDGES[d][0], BAND_EDGES[d][1], theta0, taper);
    // Centred on the strongest bin itself: a frequency in Hz times 1000 can
    // truncate to the bin below.
    const int peak = PeakBin(coquad[C11], 30, 630, b);
    if (peak >= 0)
        CalcGroup(PEAK_BAND, peak * b - 5, peak * b + 5, theta0, taper);
}

void SpectralDirAnalysis::CalcGroup(int d, int lo, int hi, float theta0, float taper)
{
    const int b = 5;
    const float* c11 = coquad[C11];
    const float m0 = BandEnergy(c11, lo, hi, b);
    bands[0][d] = 4.0f * fsqrt(m0);
    bands[1][d] = DegreesFreeEnergy(c11, lo, hi, taper, b);
    if (m0 == 0.0f)
        return;
    bands[6][d] = FirstMoment(c11, lo, hi, b) / m0 * 1000.0f;
    const float A1 = FourCoefEnergy(coef[0], c11, lo, hi, b) / m0;
    const float B1 = FourCoefEnergy(coef[1], c11, lo, hi, b) / m0;
    const float A2 = FourCoefEnergy(coef[2], c11, lo, hi, b) / m0;
    const float B2 = FourCoefEnergy(coef[3], c11, lo, hi, b) / m0;
    bands[3][d] = CalcS0bh(A1, B1);
    bands[2][d] = CalcTh0(A1, B1, theta0);
    bands[4][d] = CalcG1(A1, B1, A2, B2);
    bands[5][d] = CalcG2(A1, B1, A2, B2);
}
