// Parsing one replayed sweep line (256 samples) of the bundled recording:
// the per-sweep cost of the replay front-ends; and a whole pair read from the
// file, as the file replay's radar process does per measurement; and the
// longest measurement there is, one that meets a file without line ends.
#include <fstream>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "configfile.h"
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

static void ReadReplayPair(benchmark::State& state) {
    ConfigFile cf(0, 0);
    auto record = std::make_unique<radar_st>();
    auto replay = std::make_unique<ReadfileClass>(&cf, "radar0", 1.0);
    auto open = [&] {
        replay = std::make_unique<ReadfileClass>(&cf, "radar0", 1.0);
        replay->Settings(RECORDING);
        replay->openRadar();
    };
    open();
    for (auto _ : state) {
        if (replay->getMeasurement(record.get(), 1.0) != 0) {
            // The end of the recording: start it again, outside the time taken.
            state.PauseTiming();
            open();
            state.ResumeTiming();
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(ReadReplayPair);

static void ReadWithoutLineEnd(benchmark::State& state) {
    ConfigFile cf(0, 0);
    auto record = std::make_unique<radar_st>();
    ReadfileClass replay(&cf, "radar0", 1.0);
    replay.Settings("/dev/zero");
    replay.openRadar();
    for (auto _ : state) {
        benchmark::DoNotOptimize(replay.getMeasurement(record.get(), 1.0));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * REPLAY_MAX_SKIP);
}
BENCHMARK(ReadWithoutLineEnd)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
