// Cost of turning one sweep pair into spectra and peaks, as the FFT and peak
// stages do it, beside a single-precision FFTW pipeline of the same shape
// (same samples, same Hann window, same normalised power, same peak search).
// Before the timings it prints the accuracy of both against a double DFT.
#include "configfile.h"
#include "fft.h"
#include "peak.h"
#include "reference_spectrum.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <memory>
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

using spectra_test::mirroredHann;

// Double-precision DFT of the windowed sweep: the reference spectrum.
std::vector<double> referenceSpectrum(const std::vector<int16_t>& x)
{
    const int n = static_cast<int>(x.size());
    std::vector<double> w(n);
    for (int i = 0; i < n; ++i)
        w[i] = x[i] * mirroredHann(i, n);
    return spectra_test::dftPower(w);
}

// A serial-radar sweep record (little-endian 16-bit words) holding the two sweeps.
void sweepRecord(radar_st& r, const std::vector<int16_t>& up, const std::vector<int16_t>& down)
{
    std::memset(&r, 0, sizeof r);
    std::strcpy(r.time, "1765250000000");
    std::strcpy(r.section, "radar0");
    r.brand = ENRAF;
    r.nrOfSweeps = 2;
    const int n = static_cast<int>(up.size());
    r.length = 4 * n;
    for (int i = 0; i < n; ++i) {
        for (int s = 0; s < 2; ++s) {
            const uint16_t v = static_cast<uint16_t>((s == 0 ? up : down)[i]);
            r.data.com[s * 2 * n + 2 * i] = static_cast<char>(v & 0xFF);
            r.data.com[s * 2 * n + 2 * i + 1] = static_cast<char>(v >> 8);
        }
    }
}

// The radar section both chains read: window on, the whole spectrum searched.
void configure(ConfigFile& cf, int n)
{
    cf.setValue("radar0", "henn", 1);
    cf.setValue("radar0", "sweepsize", n);
    cf.setValue("radar0", "threshold", 20.0f);
    cf.setValue("radar0", "minimumheight", 0.0f);
    cf.setValue("radar0", "maximumheight", 1000.0f);
    cf.setValue("radar0", "radarType", std::string("F"));
}

// The stages' own code: FFTClass::processRecord, then PeakClass::processRecord.
struct FixedChain {
    ConfigFile cf{0, 0};
    std::unique_ptr<FFTClass> fft;
    PeakClass peak{&cf};

    explicit FixedChain(int n)
    {
        configure(cf, n);
        fft.reset(new FFTClass(&cf));
    }
    void pair(const radar_st& in, fft_st& spectrum, peak_st& peaks)
    {
        fft->processRecord(in, spectrum);
        peak.processRecord(spectrum, 0, peaks);
    }
};

// The same shape in single precision: conversion from the same bytes, energy,
// the same Hann weights, a real-to-complex plan made once, |X|^2/n^2, and the
// same peak stage on the result.
struct FloatChain {
    ConfigFile cf{0, 0};
    PeakClass peak{&cf};
    int n;
    std::vector<float> window;
    float* in;
    fftwf_complex* out;
    fftwf_plan plan;

    explicit FloatChain(int size) : n(size), window(size)
    {
        configure(cf, n);
        for (int i = 0; i < n; ++i)
            window[i] = static_cast<float>(mirroredHann(i, n));
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
    void pair(const radar_st& record, fft_st& spectrum, peak_st& peaks)
    {
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(record.data.com);
        for (int s = 0; s < 2; ++s) {
            int64_t sumSquares = 0;
            for (int i = 0; i < n; ++i) {
                const int16_t v = static_cast<int16_t>(bytes[s * 2 * n + 2 * i] | (bytes[s * 2 * n + 2 * i + 1] << 8));
                sumSquares += static_cast<int64_t>(v) * v;
                in[i] = static_cast<float>(v) * window[i];
            }
            spectrum.energy[s] = static_cast<double>(sumSquares / n);
            fftwf_execute(plan);
            const float norm = 1.0f / (static_cast<float>(n) * static_cast<float>(n));
            for (int i = 0; i < n / 2; ++i)
                spectrum.data[s][i] = (out[i][0] * out[i][0] + out[i][1] * out[i][1]) * norm;
        }
        std::memcpy(spectrum.time, record.time, sizeof spectrum.time);
        std::memcpy(spectrum.section, record.section, sizeof spectrum.section);
        spectrum.nrOfSweeps = 2;
        spectrum.length = n;
        peak.processRecord(spectrum, 0, peaks);
    }
};

template <class Chain>
void sweepPair(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    std::unique_ptr<Chain> chain(new Chain(n));
    std::unique_ptr<radar_st> record(new radar_st());
    std::unique_ptr<fft_st> spectrum(new fft_st());
    std::unique_ptr<peak_st> peaks(new peak_st());
    sweepRecord(*record, beatSweep(n, 0), beatSweep(n, 1));
    for (auto _ : state) {
        chain->pair(*record, *spectrum, *peaks);
        benchmark::DoNotOptimize(peaks->nrOfPeaks[1]);
        benchmark::ClobberMemory();
    }
    state.counters["pairs/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

template <class Chain>
void accuracyLine(const char* name, int n)
{
    std::unique_ptr<Chain> chain(new Chain(n));
    std::unique_ptr<radar_st> record(new radar_st());
    std::unique_ptr<fft_st> spectrum(new fft_st());
    std::unique_ptr<peak_st> peaks(new peak_st());
    const auto x = beatSweep(n, 0);
    sweepRecord(*record, x, beatSweep(n, 1));
    chain->pair(*record, *spectrum, *peaks);
    const float* row = spectrum->data[0];
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
    std::printf("%-6s n=%4d  peak bin %4d (reference %4d, error %d)  relative error at peak %.2e  SNR %.1f dB"
                "  peaks found %d\n",
        name, n, peak, refPeak, peak - refPeak, std::fabs(row[refPeak] - ref[refPeak]) / ref[refPeak],
        10.0 * std::log10(signal / error), peaks->nrOfPeaks[0]);
}

// The console's lines, and the fastest CPU time per pair of each chain and size.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const bool fastest = r.run_type == Run::RT_Iteration || r.aggregate_name == "min";
            if (!fastest || r.error_occurred)
                continue;
            const bool fixed = r.run_name.function_name.find("FixedChain") != std::string::npos;
            const int n = std::atoi(r.run_name.args.c_str());
            double& best = (fixed ? fixed_ : float_)[n];
            const double t = r.GetAdjustedCPUTime();
            if (best == 0 || t < best)
                best = t;
        }
    }
    // One line per size: both chains' fastest runs and their ratio.
    void printRatios() const
    {
        std::printf("\nfixed-point chain / FFTW float chain, fastest CPU time per sweep pair of each:\n");
        for (const auto& [n, fixedTime] : fixed_) {
            const auto f = float_.find(n);
            if (f != float_.end() && f->second > 0)
                std::printf("  n=%4d  fixed %8.0f ns  fftw %8.0f ns  ratio %.2f\n", n, fixedTime, f->second,
                    fixedTime / f->second);
        }
    }

private:
    std::map<int, double> fixed_, float_;
};

} // namespace

double fastestOf(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

BENCHMARK_TEMPLATE(sweepPair, FixedChain)->Arg(256)->Arg(512)->Arg(1024)->Arg(2048)->ComputeStatistics("min", fastestOf);
BENCHMARK_TEMPLATE(sweepPair, FloatChain)->Arg(256)->Arg(512)->Arg(1024)->Arg(2048)->ComputeStatistics("min", fastestOf);

int main(int argc, char** argv)
{
    std::printf("Accuracy against a double-precision DFT of the same windowed sweep:\n");
    for (int n : kSizes) {
        accuracyLine<FixedChain>("fixed", n);
        accuracyLine<FloatChain>("fftw", n);
    }
    // Repeated runs of both chains in random order, so that a busy machine
    // slows both alike; the fastest run of each counts. Given flags win.
    std::vector<char*> args = {argv[0]};
    char repetitions[] = "--benchmark_repetitions=7";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char minTime[] = "--benchmark_min_time=0.2";
    args.insert(args.end(), {repetitions, interleave, minTime});
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
