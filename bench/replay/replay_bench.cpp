// Parsing one replayed sweep line (256 samples) of the bundled recording:
// the per-sweep cost of the replay front-ends.
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "readfile.h"

static void ParseReplayLine(benchmark::State& state) {
    std::ifstream in(RECORDING);
    std::string line;
    std::getline(in, line);
    readfile_raw_data_t entry{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(extractData(line.c_str(), &entry));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(line.size()));
}
BENCHMARK(ParseReplayLine);

BENCHMARK_MAIN();
