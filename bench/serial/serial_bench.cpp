// The serial front-ends' per-sweep work: taking a sweep reply of 8192 bytes
// apart and reading a Sivers trace of 1024 lines, each beside a plain copy of
// the same bytes, and one whole sweep read over a pseudo-terminal with the
// radar's own waits.
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "comm.h"
#include "configfile.h"
#include "radarsim.h"
#include "siversima.h"
#include "siverssim.h"

namespace {

std::vector<uint8_t> sweepReply() {
    RadarSimOptions o;
    return replyFrame(4, 1, sweepPayload(o, 8192));
}

std::string trace() {
    std::string t;
    for (int v : traceValues(SiversSimOptions(), 1024)) t += std::to_string(v) + "\r\n";
    return t + "OK\r\n";
}

void CopySweepReply(benchmark::State& state) {
    const std::vector<uint8_t> wire = sweepReply();
    std::vector<char> buffer(SWEEP_CAPACITY);
    for (auto _ : state) {
        std::memcpy(buffer.data(), wire.data(), wire.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(wire.size()));
}
BENCHMARK(CopySweepReply);

void ParseSweepReply(benchmark::State& state) {
    const std::vector<uint8_t> wire = sweepReply();
    std::vector<char> buffer(SWEEP_CAPACITY);
    for (auto _ : state) {
        ReplyParser parser(buffer.data(), SWEEP_CAPACITY);
        for (uint8_t b : wire) parser.feed(b);
        benchmark::DoNotOptimize(parser.complete());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(wire.size()));
}
BENCHMARK(ParseSweepReply);

void CopyTrace(benchmark::State& state) {
    const std::string t = trace();
    std::vector<char> buffer(t.size());
    for (auto _ : state) {
        std::memcpy(buffer.data(), t.data(), t.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}
BENCHMARK(CopyTrace);

void ParseTrace(benchmark::State& state) {
    const std::string t = trace();
    std::vector<int32_t> values(SIVERS_MAX_VALUES);
    for (auto _ : state) {
        TraceParser parser(values.data(), SIVERS_MAX_VALUES);
        for (char b : t) parser.feed(b);
        benchmark::DoNotOptimize(parser.count());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}
BENCHMARK(ParseTrace);

// One measurement as the loop makes it: start, then the sweep of 8192 bytes.
void SweepOverPseudoTerminal(benchmark::State& state) {
    RadarSimOptions o;
    o.sweepBytes = 8192;
    RadarSim sim(o);
    if (!sim.open()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    sim.start();
    ConfigFile cf;
    cf.setValue("radar0", "scanspeed", std::string("1000"));
    CommClass comm(&cf, "radar0", 5.0);
    comm.Settings(sim.slavePath(), 115200, "n", 8, 1);
    comm.setRadId(1);
    comm.openComm();
    std::vector<char> buffer(SWEEP_CAPACITY);
    int length = 0;
    for (auto _ : state) {
        comm.startMeasurement();
        comm.getMeasurement(buffer.data(), &length, 0);
        if (length != 8192) state.SkipWithError("sweep not read");
    }
}
BENCHMARK(SweepOverPseudoTerminal)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
