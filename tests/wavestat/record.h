// A 20-minute record through the wave analysis as the context runs it: the
// samples placed block by block, the working series built, the tide removed
// (gauges), cleaned, then the heave spectral and time-domain analyses.
// Shared by the tests and the benchmark.
#pragma once

#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "heaveanalysis.h"
#include "numeric.h"
#include "samples.h"
#include "sensor.h"
#include "spectrum.h"
#include "timedomain.h"

namespace wavestat_test {

enum SensorType { WAVEC = 0, DRIDER = 1, RIDER = 2, GAUGE = 3, GAUGE_1_28 = 4, GAUGE_ARRAY = 5 };

constexpr float TAPER = 0.1f;

struct Record {
    std::unique_ptr<WaveSensor> sensor;
    SampleAnalysis samples;
    SpectralHeaveAnalysis heave;
    TimeDomainAnalysis waves;
    std::vector<Complex> twiddles;
    std::vector<float> tide;

    explicit Record(int type)
        : sensor(CreateWaveSensor(type)), samples(sensor.get(), 0), heave(sensor.get()), waves(sensor.get()),
          twiddles(sensor->GetSCnt()), tide(6 * sensor->GetSCnt())
    {
        FillFFTTable(twiddles.data(), sensor->GetSCnt());
    }

    int n() const { return 6 * sensor->GetSCnt(); }
    double rate() const { return sensor->GetSampleRate(); }

    // Places the 1200 s of heights slot by slot: the first 600 s, a block
    // shift, then the second 600 s.  Values the input screen refuses (the
    // missing marker among them) arrive as out-of-range samples.
    void Load(const std::vector<float>& heights)
    {
        samples.Clear();
        const int half = n() / 2;
        for (int i = 0; i < n(); ++i) {
            if (i == half)
                samples.Shift();
            float v = heights[i];
            const int32_t flag = ScreenSample(v);
            samples.SetCurrentSample(i % half, &v, &flag);
        }
        samples.Copy();
    }

    // Cleaning and both analyses on the loaded record.
    void Analyse()
    {
        if (sensor->HasTide())
            sensor->RemoveTide(samples.GetD(0), tide.data());
        samples.PreProcess();
        heave.Clear();
        heave.Process(&samples, twiddles.data(), TAPER);
        waves.Clear();
        waves.Process(&samples);
    }

    void Run(const std::vector<float>& heights)
    {
        Load(heights);
        Analyse();
    }

    float H(int code) const { return code < 2000 ? heave.GetParameter(code) : waves.GetParameter(code); }
    float Q(int code) const { return heave.GetQuality(code); }
    SamplesPair& pair() { return *samples.GetSamplesPair(0); }
};

// n samples of f(t), t in seconds from the record start.
inline std::vector<float> Series(int n, double rate, const std::function<double(double)>& f)
{
    std::vector<float> x(n);
    for (int i = 0; i < n; ++i)
        x[i] = static_cast<float>(f(i / rate));
    return x;
}

// A sine wave train of amplitude a and frequency f (Hz) on a level.
inline std::function<double(double)> Wave(double level, double a, double f, double phase = 0.0)
{
    return [=](double t) { return level + a * std::cos(2.0 * M_PI * f * t + phase); };
}

// Gaussian noise of standard deviation s (fixed seed).
inline std::vector<float> Noise(int n, double s, unsigned seed)
{
    std::mt19937 gen(seed);
    std::normal_distribution<double> d(0.0, s);
    std::vector<float> x(n);
    for (float& v : x)
        v = static_cast<float>(d(gen));
    return x;
}

// JONSWAP variance density (unit^2/Hz) with gamma 3.3 for Hs (unit) and peak fp (Hz).
inline double Jonswap(double f, double hs, double fp)
{
    const double sigma = f <= fp ? 0.07 : 0.09;
    const double r = std::exp(-(f - fp) * (f - fp) / (2.0 * sigma * sigma * fp * fp));
    const double pm = 0.3125 * hs * hs * std::pow(fp, 4) / std::pow(f, 5) * std::exp(-1.25 * std::pow(fp / f, 4));
    return pm * std::pow(3.3, r) * (1.0 - 0.287 * std::log(3.3));
}

// Sine components every 1/1200 Hz from 30 to 600 mHz (each completes whole
// periods in the 20-minute record, none in a 200 s sub-series, so each
// sub-series sees other wave groups) with JONSWAP amplitudes (a^2 / 2 =
// S(f) df) and seeded random phases.
struct MultiSine {
    std::vector<double> f, a, phase;

    MultiSine(double hs, double fp, unsigned seed)
    {
        std::mt19937 gen(seed);
        std::uniform_real_distribution<double> u(0.0, 2.0 * M_PI);
        for (int k = 36; k <= 720; ++k) {
            f.push_back(k / 1200.0);
            a.push_back(std::sqrt(2.0 * Jonswap(f.back(), hs, fp) / 1200.0));
            phase.push_back(u(gen));
        }
    }
    double operator()(double t) const
    {
        double s = 0.0;
        for (size_t i = 0; i < f.size(); ++i)
            s += a[i] * std::cos(2.0 * M_PI * f[i] * t + phase[i]);
        return s;
    }
    // Spectral moment sum(a^2/2 f^p) over lo .. hi (Hz).
    double moment(int p, double lo, double hi) const
    {
        double m = 0.0;
        for (size_t i = 0; i < f.size(); ++i)
            if (f[i] >= lo - 1e-9 && f[i] <= hi + 1e-9)
                m += a[i] * a[i] / 2.0 * std::pow(f[i], p);
        return m;
    }
};

// Independent reference transform: mean removal, the same cosine taper and
// variance factor, a double-precision DFT with the positive exponent, / (N/2).
inline std::vector<std::complex<double>> ReferenceBins(const float* x, int n, double taper)
{
    std::vector<double> y(x, x + n);
    double mean = 0.0;
    for (double v : y)
        mean += v / n;
    const int m = static_cast<int>(static_cast<float>(n) * static_cast<float>(taper));
    const double scale = std::sqrt(1.0 / (1.0 - 1.25 * taper));
    for (int i = 0; i < n; ++i) {
        const int e = std::min(i, n - 1 - i);
        const double w = e < m ? 0.5 * (1.0 - std::cos(M_PI * (e + 0.5) / m)) : 1.0;
        y[i] = (y[i] - mean) * w * scale;
    }
    std::vector<std::complex<double>> bins(n);
    for (int k = 0; k < n; ++k) {
        std::complex<double> s = 0.0;
        for (int i = 0; i < n; ++i)
            s += y[i] * std::polar(1.0, 2.0 * M_PI * static_cast<double>((static_cast<long>(i) * k) % n) / n);
        bins[k] = s / (n / 2.0);
    }
    return bins;
}

} // namespace wavestat_test
