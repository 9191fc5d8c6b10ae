// Cost of the record path through the rings (which should make no system
// call) against a task-ring add (which takes the cross-process lock), and of
// one typed configuration lookup.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "configfile.h"
#include "sharedmem.h"

namespace {

struct Mapped {
    Mapped() {
        char tmpl[] = "/tmp/spine_benchXXXXXX";
        dir = mkdtemp(tmpl);
        void* map = nullptr;
        if (createSharedFile(dir + "/sharedmem", SHAREDMEM_FILE_SIZE, &map, &sharedmemFd) != SharedFileResult::Ok)
            abort();
        sharedmem = static_cast<sharedmem_st*>(map);
    }
    ~Mapped() {
        munmap(sharedmem, SHAREDMEM_FILE_SIZE);
        close(sharedmemFd);
        sharedmem = nullptr;
        sharedmemFd = -1;
        unlink((dir + "/sharedmem").c_str());
        rmdir(dir.c_str());
    }
    std::string dir;
};

void FftRecordAddAndGetNext(benchmark::State& state) {
    Mapped m;
    SharedMem mem(nullptr);
    static fft_st in, out;
    memset(&in, 1, sizeof in);
    int last = mem.getIndex("f");
    unsigned int len = 0;
    for (auto _ : state) {
        mem.add("f", &in, sizeof in);
        last = mem.getNext("f", last, &out, &len);
        benchmark::DoNotOptimize(out.nan);
    }
}
BENCHMARK(FftRecordAddAndGetNext);

void TaskRingAdd(benchmark::State& state) {
    Mapped m;
    SharedMem mem(nullptr);
    char text[] = "start fft";
    for (auto _ : state) mem.add("tasks", text, sizeof text - 1);
}
BENCHMARK(TaskRingAdd);

void ConfigValueFloat(benchmark::State& state) {
    ConfigFile cf(1, 2);
    cf.setValue("radar0", "mountingheight", std::string("12.345"));
    for (int i = 0; i < 40; ++i) cf.setValue("radar0", "key" + std::to_string(i), i);
    for (auto _ : state) benchmark::DoNotOptimize(cf.ValueFloat("radar0", "mountingheight"));
}
BENCHMARK(ConfigValueFloat);

}  // namespace

BENCHMARK_MAIN();
