// Cost of the wave analysis of one 20-minute record (2.56 Hz gauge, 3072
// samples: JONSWAP sea, noise and tide): building the working series,
// removing the tide, cleaning, six spectra, the heave spectral and the
// time-domain analysis.  Baselines in the same run: the six sub-series
// transforms alone, and one plain pass over the samples.  Ratios against
// the transforms are printed after the timings.
//
// Beside it, one call of the data processor's natives on a 20-minute record,
// non-directional (2.56 Hz gauge) and directional (1.28 Hz, with the
// maximum-entropy matrix): the record analysis the natives run, and the same
// through a JVM (`java` classes of lib/wavestat, no JNI checks).  Time and
// peak heap per call are printed as ratios against the whole-record analysis
// above (its heap: building its analysis objects and running it once).
//
// Each call allocates and frees its context (about 260 KB in small blocks);
// with glibc's default trimming the freed top of the heap goes back to the
// kernel and the next call faults it in again, which on a virtual machine
// costs more than the analysis.  A process that calls repeatedly would keep
// it, so trimming is raised here: the figures are those of the work itself.
//
// Instruction counts: `bench_wavestat --once` runs each workload once in a
// function of its own, for
//   valgrind --tool=callgrind --toggle-collect=bench_record_once build/bench/wavestat/bench_wavestat --once
// (and likewise bench_ffts_once, bench_heights_call_once, bench_directional_call_once).
#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <jni.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>

#include "context.h"
#include "record.h"
#include "swaprecord.h"

// Heap in use and its peak, over every operator new of the process (the
// library allocates through it; the JVM does not).  The replaced operators
// pair malloc with free, which the compiler cannot see through inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace heap {
size_t inUse = 0;
size_t peak = 0;
void* take(size_t n)
{
    void* p = std::malloc(n ? n : 1);
    if (p) {
        inUse += malloc_usable_size(p);
        peak = inUse > peak ? inUse : peak;
    }
    return p;
}
void give(void* p)
{
    if (p) {
        inUse -= malloc_usable_size(p);
        std::free(p);
    }
}
} // namespace heap

void* operator new(size_t n)
{
    if (void* p = heap::take(n))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return heap::take(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return heap::take(n); }
void operator delete(void* p) noexcept { heap::give(p); }
void operator delete[](void* p) noexcept { heap::give(p); }
void operator delete(void* p, size_t) noexcept { heap::give(p); }
void operator delete[](void* p, size_t) noexcept { heap::give(p); }

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

namespace {

// What the data processor hands the natives for one record.
struct Call {
    std::vector<int32_t> times;
    std::vector<float> heave, x, y;
    std::vector<int32_t> codes;
    int maxWaves;
    std::vector<float> result;

    Call(bool directional)
    {
        const int n = directional ? 1536 : 3072;
        const double rate = directional ? 1.28 : 2.56;
        for (int i = 0; i < n; ++i)
            times.push_back(static_cast<int32_t>(i * 1000.0 / rate));
        if (directional) {
            const DirRecord d(n, rate, {{80.0, 0.08, 200.0, 0.1}, {40.0, 0.12, 240.0, 0.9}, {20.0, 0.21, 170.0, 2.0}});
            heave = d.heave;
            x = d.x;
            y = d.y;
            codes = {5, 8, 9, 10, 11, 12, 13, 102, 113, 150, 157, 163, 164, 165, 166};
            for (int c = 167; c <= 174; ++c)
                codes.push_back(c);
            maxWaves = 0;
        } else {
            const MultiSine sea(150.0, 0.12, 5);
            heave = Series(n, rate, [&](double t) { return 400.0 + 0.02 * t + sea(t); });
            const std::vector<float> noise = Noise(n, 1.0, 9);
            for (int i = 0; i < n; ++i)
                heave[i] += noise[i];
            codes = {5, 6, 7, 8, 101};
            for (int c = 102; c <= 143; ++c)
                codes.push_back(c);
            for (int c : {150, 157, 175, 176})
                codes.push_back(c);
            maxWaves = 600;
        }
        result.assign(directional ? 6000 : 2000, 0.0f);
    }
    int Run()
    {
        const int n = static_cast<int>(times.size());
        const int count = static_cast<int>(codes.size());
        const int length = static_cast<int>(result.size());
        return x.empty() ? GetHLevelFromSamples(times.data(), heave.data(), n, maxWaves, codes.data(), count,
                                                result.data(), length)
                         : GetHDLevelFromSamples(times.data(), heave.data(), x.data(), y.data(), n, 0.0f, maxWaves,
                                                 codes.data(), count, result.data(), length);
    }
};

Call& heightsCall()
{
    static Call c(false);
    return c;
}
Call& directionalCall()
{
    static Call c(true);
    return c;
}

// The same calls through the natives of a JVM started in this process.
struct Jvm {
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    jobject plain = nullptr, directional = nullptr;
    jmethodID plainCall = nullptr, directionalCall = nullptr;

    Jvm()
    {
        void* lib = dlopen(JVM_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
        using Create = jint (*)(JavaVM**, void**, void*);
        auto create = lib ? reinterpret_cast<Create>(dlsym(lib, "JNI_CreateJavaVM")) : nullptr;
        std::string classPath = std::string("-Djava.class.path=") + WAVESTAT_JAR;
        std::string libraryPath = std::string("-Djava.library.path=") + WAVESTAT_LIBRARY_DIR;
        JavaVMOption options[] = {{const_cast<char*>(classPath.c_str()), nullptr},
                                  {const_cast<char*>(libraryPath.c_str()), nullptr},
                                  {const_cast<char*>("-Xrs"), nullptr},
                                  {const_cast<char*>("-XX:-UsePerfData"), nullptr}};
        JavaVMInitArgs args{};
        args.version = JNI_VERSION_1_8;
        args.nOptions = 4;
        args.options = options;
        if (!create || create(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) {
            std::fprintf(stderr, "no JVM: the JNI benchmarks are skipped\n");
            env = nullptr;
            return;
        }
        plain = Make("kestrom/brim/dataprocessor/swap/SWAPDataProcessor", "swapGetHLevelFromSamples",
                     "([I[FI[I[F)I", &plainCall);
        directional = Make("kestrom/brim/dataprocessor/swap/SWAPDirDataProcessor", "swapGetHDLevelFromSamples",
                           "([I[F[F[FFI[I[F)I", &directionalCall);
    }
    jobject Make(const char* name, const char* method, const char* signature, jmethodID* id)
    {
        jclass cls = env->FindClass(name);
        if (!cls)
            return nullptr;
        *id = env->GetMethodID(cls, method, signature);
        return env->NewGlobalRef(env->NewObject(cls, env->GetMethodID(cls, "<init>", "()V")));
    }
    template <typename T, typename A>
    A Array(const std::vector<T>& v, A (JNIEnv::*make)(jsize), void (JNIEnv::*set)(A, jsize, jsize, const T*))
    {
        A a = (env->*make)(static_cast<jsize>(v.size()));
        (env->*set)(a, 0, static_cast<jsize>(v.size()), v.data());
        return static_cast<A>(env->NewGlobalRef(a));
    }
    jintArray Ints(const std::vector<int32_t>& v) { return Array(v, &JNIEnv::NewIntArray, &JNIEnv::SetIntArrayRegion); }
    jfloatArray Floats(const std::vector<float>& v)
    {
        return Array(v, &JNIEnv::NewFloatArray, &JNIEnv::SetFloatArrayRegion);
    }
};

Jvm* jvm()
{
    static Jvm j;
    return j.plain && j.directional ? &j : nullptr;
}

} // namespace

extern "C" __attribute__((noinline)) void bench_heights_call_once()
{
    benchmark::DoNotOptimize(heightsCall().Run());
}

extern "C" __attribute__((noinline)) void bench_directional_call_once()
{
    benchmark::DoNotOptimize(directionalCall().Run());
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
static void HeightsRecordCall(benchmark::State& state)
{
    for (auto _ : state)
        bench_heights_call_once();
    // Code 102 follows 101 + 600 + 600 + 1 + 51 values of codes 5, 6, 7, 8, 101.
    state.counters["Hm0"] = heightsCall().result[1353];
}
static void DirectionalRecordCall(benchmark::State& state)
{
    for (auto _ : state)
        bench_directional_call_once();
}

// Through the JVM: the arrays made once, the call repeated.
static void JniCall(benchmark::State& state, bool directional)
{
    Jvm* j = jvm();
    if (!j) {
        state.SkipWithError("no JVM");
        return;
    }
    Call& c = directional ? directionalCall() : heightsCall();
    jintArray t = j->Ints(c.times), p = j->Ints(c.codes);
    jfloatArray h = j->Floats(c.heave), r = j->Floats(c.result);
    jfloatArray x = directional ? j->Floats(c.x) : nullptr, y = directional ? j->Floats(c.y) : nullptr;
    for (auto _ : state) {
        const jint n = directional ? j->env->CallIntMethod(j->directional, j->directionalCall, t, h, x, y, 0.0f,
                                                           c.maxWaves, p, r)
                                   : j->env->CallIntMethod(j->plain, j->plainCall, t, h, c.maxWaves, p, r);
        benchmark::DoNotOptimize(n);
        if (n != static_cast<jint>(c.times.size()) || j->env->ExceptionCheck()) {
            j->env->ExceptionDescribe();
            state.SkipWithError("the native refused the record");
            break;
        }
    }
    // The JVM's result is the direct call's.
    std::vector<float> got(c.result.size());
    j->env->GetFloatArrayRegion(r, 0, static_cast<jsize>(got.size()), got.data());
    c.Run();
    state.counters["same"] = got == c.result;
}
static void HeightsJniCall(benchmark::State& state) { JniCall(state, false); }
static void DirectionalJniCall(benchmark::State& state) { JniCall(state, true); }

BENCHMARK(Record20Minutes);
BENCHMARK(SixFFTs);
BENCHMARK(PlainPass);
BENCHMARK(HeightsRecordCall);
BENCHMARK(DirectionalRecordCall);
BENCHMARK(HeightsJniCall);
BENCHMARK(DirectionalJniCall);

namespace {

// Peak heap above what was in use before, over one run of f.
template <typename F>
size_t PeakHeap(F f)
{
    const size_t before = heap::inUse;
    heap::peak = before;
    f();
    return heap::peak - before;
}

} // namespace

namespace {

// The console output, and each benchmark's real time per iteration kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ns;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median")
                ns[r.run_name.function_name] =
                    r.GetAdjustedRealTime() * (r.time_unit == benchmark::kMicrosecond ? 1e3 : 1.0);
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--once") == 0) {
        fixture(); // built outside the counted functions
        heightsCall();
        directionalCall();
        bench_record_once();
        bench_ffts_once();
        bench_pass_once();
        bench_heights_call_once();
        bench_directional_call_once();
        return 0;
    }
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
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
    const double record = reporter.ns["Record20Minutes"];
    if (record > 0.0) {
        for (const char* name : {"HeightsRecordCall", "DirectionalRecordCall", "HeightsJniCall", "DirectionalJniCall"})
            if (reporter.ns.count(name))
                std::printf("%s / whole-record analysis: time %.2f\n", name, reporter.ns[name] / record);
    }
    const size_t baseline = PeakHeap([] {
        Record r(GAUGE);
        r.Run(heightsCall().heave);
    });
    const size_t heights = PeakHeap([] { heightsCall().Run(); });
    const size_t directional = PeakHeap([] { directionalCall().Run(); });
    std::printf("peak heap: whole-record analysis %zu bytes; heights call %zu (%.2f); directional call %zu (%.2f)\n",
                baseline, heights, static_cast<double>(heights) / baseline, directional,
                static_cast<double>(directional) / baseline);
    return 0;
}
