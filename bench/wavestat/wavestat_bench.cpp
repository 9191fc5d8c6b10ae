// Cost of the wave analysis of one 20-minute record (2.56 Hz gauge, 3072
// samples: JONSWAP sea, noise and tide): building the working series,
// removing the tide, cleaning, six spectra, the heave spectral and the
// time-domain analysis.  Baselines in the same run: the six sub-series
// transforms alone, and one plain pass over the samples.  Ratios against
// the transforms are printed after the timings.
//
// Instruction counts: `bench_wavestat --once` runs each workload once in a
// function of its own, for
//   valgrind --tool=callgrind --toggle-collect=bench_record_once build/bench/wavestat/bench_wavestat --once
// (and likewise bench_ffts_once).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "record.h"

using namespace wavestat_test;

namespace {

struct Fixture {
    Record record{GAUGE};
    Fixture()
    {
        const MultiSine sea(150.0, 0.12, 5);
        std::vector<float> x = Series(3072, 2.56, [&](double t) { return 400.0 + 0.02 * t + sea(t); });
        const std::vector<float> noise = Noise(3072, 1.0, 9);
        for (size_t i = 0; i < x.size(); ++i)
            x[i] += noise[i];
        record.Load(x);
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

} // namespace

extern "C" __attribute__((noinline)) void bench_record_once()
{
    Record& r = fixture().record;
    r.samples.Copy();
    r.Analyse();
    benchmark::DoNotOptimize(r.H(1003));
}

extern "C" __attribute__((noinline)) void bench_ffts_once()
{
    Record& r = fixture().record;
    const float* x = r.samples.GetD(0);
    const int32_t* q = r.samples.GetQ(0);
    static Spectrum spectra[SUBSERIESCOUNT] = {Spectrum(512), Spectrum(512), Spectrum(512),
                                               Spectrum(512), Spectrum(512), Spectrum(512)};
    for (int i = 0; i < SUBSERIESCOUNT; ++i)
        spectra[i].CalcSpectrum(x + 512 * i, q + 512 * i, r.twiddles.data(), TAPER);
    benchmark::DoNotOptimize(spectra[5].Get(7));
}

extern "C" __attribute__((noinline)) void bench_pass_once()
{
    const float* x = fixture().record.samples.GetD(0);
    float sum = 0.0f;
    for (int i = 0; i < 3072; ++i)
        sum += x[i];
    benchmark::DoNotOptimize(sum);
}

static void Record20Minutes(benchmark::State& state)
{
    for (auto _ : state)
        bench_record_once();
    state.counters["waves"] = fixture().record.H(2010);
}
static void SixFFTs(benchmark::State& state)
{
    bench_record_once(); // a cleaned working series to transform
    for (auto _ : state)
        bench_ffts_once();
}
static void PlainPass(benchmark::State& state)
{
    for (auto _ : state)
        bench_pass_once();
}
BENCHMARK(Record20Minutes);
BENCHMARK(SixFFTs);
BENCHMARK(PlainPass);

namespace {

// The console output, and each benchmark's real time per iteration kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ns;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            ns[r.benchmark_name()] = r.GetAdjustedRealTime() * (r.time_unit == benchmark::kMicrosecond ? 1e3 : 1.0);
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--once") == 0) {
        fixture(); // built outside the counted functions
        bench_record_once();
        bench_ffts_once();
        bench_pass_once();
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double ffts = reporter.ns["SixFFTs"];
    if (ffts > 0.0) {
        std::printf("record / six FFTs: %.2f\n", reporter.ns["Record20Minutes"] / ffts);
        std::printf("plain pass / six FFTs: %.3f\n", reporter.ns["PlainPass"] / ffts);
    }
    return 0;
}
