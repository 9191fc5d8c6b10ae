// The heave smoother's hot path: one filter step at 101 and 50000 taps against a
// plain dot product of the same length (the baseline: the least a step must do),
// and whole input lines through the smoother with 101 taps.
#include "smoother.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

std::unique_ptr<FirFilter> filterOf(int taps)
{
    char path[] = "/tmp/bench-fir-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        abort();
    FILE* f = fdopen(fd, "w");
    for (int i = 0; i < taps; i++)
        fprintf(f, "%.17g\n", 1.0 / (i + 1));
    fclose(f);
    // The constructor's two lines would land among the benchmark's report.
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    std::unique_ptr<FirFilter> filter(new FirFilter(path));
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(null);
    unlink(path);
    if (filter->getError() != 0)
        abort();
    return filter;
}

void BM_DotProduct(benchmark::State& state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<double> c(n), d(n);
    for (size_t i = 0; i < n; i++) {
        c[i] = 1.0 / static_cast<double>(i + 1);
        d[i] = static_cast<double>(i % 7);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(d.data());
        double sum = 0.0;
        for (size_t i = 0; i < n; i++)
            sum += c[i] * d[i];
        benchmark::DoNotOptimize(sum);
    }
}

void BM_FirSample(benchmark::State& state)
{
    auto filter = filterOf(static_cast<int>(state.range(0)));
    double x = 0.0;
    for (auto _ : state) {
        x += 1.0;
        benchmark::DoNotOptimize(filter->sample(x));
    }
}

struct Discard : LineSink {
    void publish(const char* line, size_t length) override { benchmark::DoNotOptimize(line[length / 2]); }
};

void BM_SmootherLines(benchmark::State& state)
{
    auto filter = filterOf(101);
    Discard sink;
    HeaveSmoother smoother(*filter, sink, true);
    // Lines 20 ms apart: one grid point, one filter step and one output line in five.
    std::vector<std::string> lines;
    for (int k = 0; k < 1000; k++)
        lines.push_back(std::to_string(1700000000000LL + 20 * k) + "," + std::to_string(k % 50) + ".25,1.5,-2.5,180");
    size_t k = 0;
    long long shift = 0;
    for (auto _ : state) {
        smoother.processLine(lines[k].c_str());
        if (++k == lines.size()) {
            // Start the times over later, so the stream never goes back.
            k = 0;
            shift += 20000;
            for (size_t i = 0; i < lines.size(); i++)
                lines[i] = std::to_string(1700000000000LL + shift + 20 * static_cast<long long>(i)) + "," +
                           std::to_string(i % 50) + ".25,1.5,-2.5,180";
        }
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_DotProduct)->Arg(101)->Arg(50000);
BENCHMARK(BM_FirSample)->Arg(101)->Arg(50000);
BENCHMARK(BM_SmootherLines);
BENCHMARK_MAIN();
