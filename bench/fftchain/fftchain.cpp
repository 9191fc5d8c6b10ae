// Cost of turning one sweep pair into spectra and peaks, as the FFT and peak
// stages do it, beside a single-precision FFTW pipeline of the same shape
// (same samples, same Hann window, same normalised power, same peak search).
// Before the timings it prints the accuracy of both against a double DFT.
#include "integer_fft.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

const int kSizes[] = {256, 512, 1024, 2048};

// A beat tone at a fractional bin, a DC offset and a little noise, as a radar delivers it.
std::vector<int16_t> beatSweep(int n, int sweep)
{
    std::vector<int16_t> s(n);
    uint32_t lcg = 12345u + static_cast<uint32_t>(sweep);
    const double bin = n / 10.0 + 0.37 + sweep * 0.5;
    for (int i = 0; i < n; ++i) {
        lcg = lcg * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(lcg >> 8) / 16777216.0 - 0.5) * 40.0;
        s[i] = static_cast<int16_t>(std::lround(8000.0 * std::sin(2.0 * M_PI * bin * i / n) + 1500.0 + noise));
    }
    return s;
}

// Mirrored Hann: the second half repeats the first backwards, as the fixed-point window does.
double hann(int i, int n)
{
    const int t = i < n / 2 ? i : n - 1 - i;
    return 0.5 - 0.5 * std::cos(2.0 * M_PI * t / n);
}

// Double-precision DFT of the windowed sweep: the reference spectrum.
std::vector<double> referenceSpectrum(const std::vector<int16_t>& x)
{
    const int n = static_cast<int>(x.size());
    std::vector<double> c(n), s(n), w(n), p(n / 2);
    for (int i = 0; i < n; ++i) {
        c[i] = std::cos(2.0 * M_PI * i / n);
        s[i] = std::sin(2.0 * M_PI * i / n);
        w[i] = x[i] * hann(i, n);
    }
    for (int k = 0; k < n / 2; ++k) {
        double re = 0, im = 0;
        for (int i = 0; i < n; ++i) {
            const int a = static_cast<int>((static_cast<int64_t>(k) * i) % n);
            re += w[i] * c[a];
            im -= w[i] * s[a];
        }
        p[k] = (re * re + im * im) / (static_cast<double>(n) * n);
    }
    return p;
}

// The floating-point pipeline: plan made once, then per sweep conversion,
// energy, window, real-to-complex transform and normalised power.
struct FloatChain {
    int n;
    std::vector<float> window;
    float* in;
    fftwf_complex* out;
    fftwf_plan plan;

    explicit FloatChain(int size) : n(size), window(size)
    {
        for (int i = 0; i < n; ++i)
            window[i] = static_cast<float>(hann(i, n));
        in = fftwf_alloc_real(n);
        out = fftwf_alloc_complex(n / 2 + 1);
        plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    }
    ~FloatChain()
    {
        fftwf_destroy_plan(plan);
        fftwf_free(in);
        fftwf_free(out);
    }
    void sweep(const int16_t* samples, float* row, double* energy)
    {
        int64_t sumSquares = 0;
        for (int i = 0; i < n; ++i) {
            sumSquares += static_cast<int64_t>(samples[i]) * samples[i];
            in[i] = static_cast<float>(samples[i]) * window[i];
        }
        *energy = static_cast<double>(sumSquares / n);
        fftwf_execute(plan);
        const float norm = 1.0f / (static_cast<float>(n) * static_cast<float>(n));
        for (int i = 0; i < n / 2; ++i)
            row[i] = (out[i][0] * out[i][0] + out[i][1] * out[i][1]) * norm;
    }
};

// The fixed-point chain, as the FFT stage runs each sweep.
struct FixedChain {
    int n;
    FixedFft fft;
    std::vector<fixed> re, im;
    std::vector<int64_t> pow;

    explicit FixedChain(int size) : n(size), re(size), im(size), pow(size) {}
    void sweep(const int16_t* samples, float* row, double* energy)
    {
        int64_t sumSquares = 0;
        for (int i = 0; i < n; ++i) {
            re[i] = samples[i];
            im[i] = 0;
            sumSquares += static_cast<int64_t>(samples[i]) * samples[i];
        }
        *energy = static_cast<double>(sumSquares / n);
        fft.setN_WAVE(n);
        fft.window(re.data(), n);
        int m = 0;
        while ((1 << m) < n)
            ++m;
        const int scale = fft.fix_fft(re.data(), im.data(), m, 1);
        const int64_t factor = scale > 0 ? int64_t(1) << (2 * scale) : 1;
        const float norm = static_cast<float>(n * n);
        for (int i = 0; i < n / 2; ++i) {
            pow[i] = (re[i] * re[i] + im[i] * im[i]) * factor;
            row[i] = static_cast<float>(pow[i]) / norm;
        }
    }
};

// The peak search of the peak stage over a typical bin range.
int peakSearch(const float* d, int size, float thresholdInv)
{
    int found = 0;
    for (int i = 2; i < size - 2; ++i)
        if (thresholdInv < d[i] && d[i] > d[i - 1] && d[i] > d[i + 1] && d[i] > d[i - 2] && d[i] > d[i + 2])
            ++found;
    return found;
}

template <class Chain>
void sweepPair(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    Chain chain(n);
    const auto up = beatSweep(n, 0), down = beatSweep(n, 1);
    std::vector<float> rows(2 * n);
    double energy[2];
    for (auto _ : state) {
        chain.sweep(up.data(), rows.data(), &energy[0]);
        chain.sweep(down.data(), rows.data() + n, &energy[1]);
        int peaks = peakSearch(rows.data(), n / 2, 0.001f) + peakSearch(rows.data() + n, n / 2, 0.001f);
        benchmark::DoNotOptimize(peaks);
        benchmark::ClobberMemory();
    }
    state.counters["pairs/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

template <class Chain>
void accuracyLine(const char* name, int n)
{
    Chain chain(n);
    const auto x = beatSweep(n, 0);
    std::vector<float> row(n);
    double energy;
    chain.sweep(x.data(), row.data(), &energy);
    const auto ref = referenceSpectrum(x);
    // Peak away from the DC offset's leakage.
    int peak = 4, refPeak = 4;
    double signal = 0, error = 0;
    for (int k = 4; k < n / 2; ++k) {
        if (row[k] > row[peak])
            peak = k;
        if (ref[k] > ref[refPeak])
            refPeak = k;
    }
    for (int k = 0; k < n / 2; ++k) {
        signal += ref[k] * ref[k];
        error += (row[k] - ref[k]) * (row[k] - ref[k]);
    }
    std::printf("%-6s n=%4d  peak bin %4d (reference %4d, error %d)  relative error at peak %.2e  SNR %.1f dB\n", name, n,
        peak, refPeak, peak - refPeak, std::fabs(row[refPeak] - ref[refPeak]) / ref[refPeak],
        10.0 * std::log10(signal / error));
}

} // namespace

BENCHMARK_TEMPLATE(sweepPair, FixedChain)->Arg(256)->Arg(512)->Arg(1024)->Arg(2048);
BENCHMARK_TEMPLATE(sweepPair, FloatChain)->Arg(256)->Arg(512)->Arg(1024)->Arg(2048);

int main(int argc, char** argv)
{
    std::printf("Accuracy against a double-precision DFT of the same windowed sweep:\n");
    for (int n : kSizes) {
        accuracyLine<FixedChain>("fixed", n);
        accuracyLine<FloatChain>("fftw", n);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
