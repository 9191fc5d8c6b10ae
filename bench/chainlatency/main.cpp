// Latency: drives vintor's real process tree as its radar would: a sweep
// record goes into ring radar0, the FFT semaphore is raised, and the time until
// the matching "heave" line arrives is taken. With --load, one and then three
// radar processes replay a recording at 10 sweep pairs per second each, with
// the "heave" feed subscribed, and the CPU time of every process of the tree
// per sweep pair is read from /proc: all its threads, and the children it
// reaped (the housekeeping stage ends and is started again all the time), and
// the wake-ups (context switches of every thread) per pair.
// Several vintor programs (an older build, say) take turns in one run.
// It runs itself in a private namespace (tests/ns-run), so vintor has its fixed
// ports, files and keys and everything it starts ends with it, however it ends.
#include <dirent.h>
#include <limits.h>
#include <fcntl.h>
#include <json/json.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "configfile.h"
#include "defaults.h"
#include "harness.h"
#include "records.h"
#include "semflag.h"
#include "sharedmem.h"

using namespace testsupport;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int SAMPLES = 256;
constexpr double DISTANCE_CM = 800;

// The beat tone of a surface at DISTANCE_CM, as a replayed sweep.
void fillRecord(radar_st& r, const char* section, long long time) {
    std::memset(&r, 0, sizeof r);
    std::snprintf(r.time, sizeof r.time, "%lld", time);
    std::snprintf(r.section, sizeof r.section, "%s", section);
    r.brand = READFILE;
    r.nrOfSweeps = 2;
    r.length = SAMPLES;
    const double beatHz = 2.0 * double(DEF_sweepSpeed) / double(DEF_speedOfLight) / 100.0 * DISTANCE_CM;
    for (int s = 0; s < 2; ++s) {
        std::snprintf(r.data.rf[s].time, sizeof r.data.rf[s].time, "%lld", time);
        for (int i = 0; i < SAMPLES; ++i)
            r.data.rf[s].data[i] =
                static_cast<int16_t>(std::lround(2000 * std::cos(2 * M_PI * beatHz * i / double(DEF_sampleFrequency))));
    }
}

// CPU of one process of the tree. `cpuNs` covers all its threads, those that
// have ended too (utime + stime as the process CPU clock gives them, to the
// nanosecond); `reapedNs` is what its children that it has waited for used
// (cutime + cstime, in clock ticks).
struct ProcCpu {
    std::string name;
    int ppid = 0;
    bool ended = false;  // a zombie: its parent has yet to reap it
    double cpuNs = 0;
    double reapedNs = 0;
    long switches = 0;  // context switches of all its threads now running
};

// Times any thread of the process gave up the CPU or was made to: each is a
// wake-up, the cost that stage hand-overs pay per record.
long contextSwitches(int pid) {
    long n = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(tasks.c_str());
    if (!d) return 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream status(tasks + "/" + e->d_name + "/status");
        std::string key;
        long value;
        while (status >> key)
            if ((key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") && status >> value)
                n += value;
    }
    closedir(d);
    return n;
}

// Every process in the process group of the supervisor.
std::map<int, ProcCpu> treeCpu(int pgid) {
    std::map<int, ProcCpu> out;
    DIR* d = opendir("/proc");
    if (!d) return out;
    const double tickNs = 1e9 / static_cast<double>(sysconf(_SC_CLK_TCK));
    while (dirent* e = readdir(d)) {
        const int pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        std::string state;
        long ppid, pgrp, session, tty, tpgid;
        unsigned long flags, minflt, cminflt, majflt, cmajflt, utime, stime;
        long cutime, cstime;
        rest >> state >> ppid >> pgrp >> session >> tty >> tpgid >> flags >> minflt >> cminflt >> majflt >> cmajflt >>
            utime >> stime >> cutime >> cstime;
        if (pgrp != pgid) continue;
        ProcCpu p;
        p.ppid = static_cast<int>(ppid);
        p.ended = state == "Z";
        std::ifstream cmd("/proc/" + std::to_string(pid) + "/cmdline");
        std::getline(cmd, p.name, '\0');
        if (p.name.empty()) p.name = line.substr(line.find('(') + 1, close - line.find('(') - 1);
        p.cpuNs = static_cast<double>(utime + stime) * tickNs;
        clockid_t clock;
        timespec ts;
        if (clock_getcpuclockid(pid, &clock) == 0 && clock_gettime(clock, &ts) == 0)
            p.cpuNs = ts.tv_sec * 1e9 + ts.tv_nsec;
        p.reapedNs = static_cast<double>(cutime + cstime) * tickNs;
        if (!p.ended) p.switches = contextSwitches(pid);
        out[pid] = p;
    }
    closedir(d);
    return out;
}

// CPU used between two looks at the tree, by process title. What a process
// that ended used is counted under "<parent> reaped": through the parent's
// reaped children once it was reaped (less what it had used before the
// first look), or as a zombie's own figure until then.
std::map<std::string, double> cpuBetween(const std::map<int, ProcCpu>& before, const std::map<int, ProcCpu>& after) {
    std::map<std::string, double> used;
    auto reapedBy = [&](int ppid) {
        const auto parent = after.find(ppid);
        return (parent == after.end() ? std::string("?") : parent->second.name) + " reaped";
    };
    for (const auto& [pid, p] : after) {
        const auto b = before.find(pid);
        used[p.ended ? reapedBy(p.ppid) : p.name] += p.cpuNs - (b == before.end() ? 0 : b->second.cpuNs);
        if (b != before.end()) used[p.name + " reaped"] += p.reapedNs - b->second.reapedNs;
    }
    for (const auto& [pid, p] : before)
        if (after.count(pid) == 0) used[reapedBy(p.ppid)] -= p.cpuNs;
    for (auto it = used.begin(); it != used.end();)
        it = it->second == 0 ? used.erase(it) : std::next(it);
    return used;
}

std::string configText(int radars, const std::string& recording) {
    Json::Value root;
    std::istringstream in(readFile(sourcePath("config/station.json")));
    std::string errors;
    Json::parseFromStream(Json::CharReaderBuilder(), in, &root, &errors);
    // Without a recording this program is the radars; with one, three radar
    // processes replay it at 10 pairs a second each.
    root["vintor"]["module"]["radars"] = recording.empty() ? "0" : "1";
    // The chain alone: no command or status port.
    root["vintor"]["module"]["udp"] = "0";
    root["vintor"]["module"]["telnet"] = "0";
    const char* sections[] = {"radar", "radar2", "radar3"};
    for (int k = 0; k < 3; ++k) {
        Json::Value& r = root[sections[k]];
        if (k > 0) r = root["radar"];
        r["active"] = k < radars ? "1" : "0";
        r["radarname"] = "radar" + std::to_string(k);
        r["minimumheight"] = "1";
        r["maximumheight"] = "20";
        r["sweepsize"] = std::to_string(SAMPLES);
        if (!recording.empty()) {
            r["brand"] = "readfile";
            r["filename"] = recording;
            r["scanspeed"] = "100";
        }
    }
    return Json::writeString(Json::StreamWriterBuilder(), root);
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5))];
}

[[noreturn]] void usage(FILE* to, int status) {
    std::fprintf(to,
                 "usage: bench_chainlatency [records]\n"
                 "           latency of [records] (2000) sweep records from ring to heave line\n"
                 "       bench_chainlatency --load [seconds] [--vintor PATH]...\n"
                 "           CPU of the whole tree per sweep pair, per process, with 1 and then 3 radars\n"
                 "           replaying 10 pairs a second each for [seconds] (60); with several --vintor\n"
                 "           programs, each runs in turn and the last is compared with the first; then\n"
                 "           the wake-ups per pair and the CPU of one hand-over between two processes\n");
    std::exit(status);
}

// A whole number of at least 1, or the usage.
int positive(const char* text) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 1 || v > 1000000) usage(stderr, 2);
    return static_cast<int>(v);
}

// Runs this program again inside tests/ns-run; returns only when it cannot.
void runInPrivateNamespace(char** argv) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return;
    self[n] = '\0';
    std::vector<char*> args = {const_cast<char*>(NS_RUN), self};
    for (char** a = argv + 1; *a != nullptr; ++a) args.push_back(*a);
    args.push_back(nullptr);
    execv(NS_RUN, args.data());
}

// A vintor tree with its configuration stand-in, ready when a heave line came.
struct Tree {
    std::unique_ptr<Process> service;
    std::unique_ptr<Subscriber> heave;
    std::unique_ptr<Process> vintor;
    std::unique_ptr<ConfigFile> cf;
    std::unique_ptr<SharedMem> storage;
};

// Starts `program` with `radars` radars, replaying `recording` (none: this
// program fills ring radar0 itself); false with the reason on stderr.
bool startTree(Tree& t, const TempDir& dir, const std::string& program, int radars, const std::string& recording) {
    writeFile(dir.file("station.json"), configText(radars, recording));
    writeFile(dir.file("memory.json"), readFile(sourcePath("config/memory.json")));
    ConfigServiceOptions o;
    o.config = dir.file("station.json");
    o.memory = dir.file("memory.json");
    t.service = startConfigService(o);
    if (!t.service) {
        std::fprintf(stderr, "configuration stand-in did not start\n");
        return false;
    }
    t.heave.reset(new Subscriber("tcp://127.0.0.1:5033"));
    // A previous tree's files must not pass for this one's.
    for (const char* f : {"/tmp/sharedmem", "/tmp/sharedmemRadar0", "/tmp/sharedmemRadar1", "/tmp/sharedmemRadar2"})
        unlink(f);
    t.vintor.reset(new Process(program, {"5010", "5011"}, Process::Options{true, "", {}}));
    // The supervisor creates the files before it starts any stage; the FFT stage
    // reads the list of radars once, when it starts.
    const std::string lastFile = "/tmp/sharedmemRadar" + std::to_string(radars - 1);
    for (int k = 0; k < 5000 && access(lastFile.c_str(), F_OK) != 0; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    sharedmem = mapShared<sharedmem_st>("/tmp/sharedmem");
    sharedmemRadar_st** rings[3] = {&sharedmemRadar0, &sharedmemRadar1, &sharedmemRadar2};
    for (int k = 0; k < 3; ++k)
        *rings[k] = k < radars ? mapShared<sharedmemRadar_st>("/tmp/sharedmemRadar" + std::to_string(k), milliseconds(0))
                               : nullptr;
    if (!sharedmem || !sharedmemRadar0) {
        t.vintor->drain(std::chrono::milliseconds(500));
        std::fprintf(stderr, "%s did not create its shared memory:\n%s\n", program.c_str(), t.vintor->output().c_str());
        return false;
    }
    t.cf.reset(new ConfigFile(5010, 5011));
    t.storage.reset(new SharedMem(t.cf.get()));

    // The supervisor starts one stage per pass: wait until the whole chain answers.
    const int semFft = getSemaphore(KEYFFT);
    auto radarRecord = std::make_unique<radar_st>();
    std::string line;
    for (int k = 0; k < 100; ++k) {
        if (recording.empty()) {
            fillRecord(*radarRecord, "radar0", 1700000000000LL + k);
            t.storage->add("radar0", radarRecord.get(), sizeof(radar_st));
            setSemaphore(semFft, 1);
        }
        if (t.heave->receive(&line, std::chrono::milliseconds(300))) return true;
    }
    t.vintor->drain(std::chrono::milliseconds(500));
    std::fprintf(stderr, "the chain did not answer:\n%s\n", t.vintor->output().c_str());
    return false;
}

int latency(const TempDir& dir, int count) {
    Tree t;
    if (!startTree(t, dir, VINTOR_BIN, 1, "")) return 1;
    const int semFft = getSemaphore(KEYFFT);
    auto radarRecord = std::make_unique<radar_st>();
    const long long t0 = 1700000002000LL;
    std::vector<double> latencies;
    std::string line;
    const int warmup = 50;
    for (int k = 0; k < warmup + count; ++k) {
        fillRecord(*radarRecord, "radar0", t0 + k);
        const std::string want = "time=" + std::to_string(t0 + k) + ";";
        const auto start = Clock::now();
        t.storage->add("radar0", radarRecord.get(), sizeof(radar_st));
        setSemaphore(semFft, 1);
        bool got = false;
        while (t.heave->receive(&line, std::chrono::milliseconds(2000)))
            if (line.compare(0, want.size(), want) == 0) {
                got = true;
                break;
            }
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (!got) {
            t.vintor->drain(std::chrono::milliseconds(500));
            std::fprintf(stderr, "no heave line for record %d\n%s\n", k, t.vintor->output().c_str());
            return 1;
        }
        if (k >= warmup) latencies.push_back(us);
    }
    std::printf("sweep record to heave line, %d records: p50 %.0f us, p99 %.0f us, max %.0f us\n", count,
                percentile(latencies, 0.5), percentile(latencies, 0.99),
                *std::max_element(latencies.begin(), latencies.end()));
    std::printf("last line: %s\n", line.c_str());
    return 0;
}

// CPU of one tree over `seconds` of replay, per process title.
struct LoadResult {
    int pairs = 0;
    double seconds = 0;
    std::map<std::string, double> cpuNs;
    long switches = 0;  // of the processes that ran from the first look to the last
};

long switchesBetween(const std::map<int, ProcCpu>& before, const std::map<int, ProcCpu>& after) {
    long n = 0;
    for (const auto& [pid, p] : after) {
        const auto b = before.find(pid);
        if (b != before.end() && !p.ended && !b->second.ended) n += p.switches - b->second.switches;
    }
    return n;
}

bool loadRun(const TempDir& dir, const std::string& program, int radars, int seconds, const std::string& recording,
             LoadResult* r) {
    Tree t;
    if (!startTree(t, dir, program, radars, recording)) return false;
    // Every radar process and stage has started and made its first rounds.
    std::string line;
    for (const auto settle = Clock::now() + std::chrono::seconds(2); Clock::now() < settle;)
        t.heave->receive(&line, std::chrono::milliseconds(100));
    const int pgid = t.vintor->pid();
    const auto before = treeCpu(pgid);
    const int fftBefore = sharedmem->status.fft;
    const auto start = Clock::now();
    const auto until = start + std::chrono::seconds(seconds);
    while (Clock::now() < until) {
        t.heave->receive(&line, std::chrono::milliseconds(100));
        t.vintor->drain(std::chrono::milliseconds(0));  // its error lines must not fill the pipe
    }
    const auto after = treeCpu(pgid);
    r->pairs = sharedmem->status.fft - fftBefore;
    r->seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r->cpuNs = cpuBetween(before, after);
    r->switches = switchesBetween(before, after);
    if (r->pairs <= 0) {
        std::fprintf(stderr, "no sweep pairs in %d s:\n%s\n", seconds, t.vintor->output().c_str());
        return false;
    }
    return true;
}

// The table: one row per process title, one column per program, in us per pair.
void printLoad(int radars, const std::vector<std::string>& programs, const std::vector<LoadResult>& results) {
    std::map<std::string, int> rows;
    for (const LoadResult& r : results)
        for (const auto& [name, ns] : r.cpuNs) rows[name] = 0;
    std::printf("\n%d radar%s x 10 sweep pairs/s, CPU per sweep pair in us:\n", radars, radars == 1 ? "" : "s");
    for (std::size_t k = 0; k < programs.size(); ++k)
        std::printf("  [%zu] %s: %d pairs in %.1f s\n", k + 1, programs[k].c_str(), results[k].pairs,
                    results[k].seconds);
    std::printf("%-28s", "process");
    for (std::size_t k = 0; k < programs.size(); ++k) std::printf(" %9s", ("[" + std::to_string(k + 1) + "]").c_str());
    std::printf("\n");
    std::vector<double> total(results.size(), 0);
    for (const auto& row : rows) {
        std::printf("%-28s", row.first.c_str());
        for (std::size_t k = 0; k < results.size(); ++k) {
            const auto it = results[k].cpuNs.find(row.first);
            const double us = it == results[k].cpuNs.end() ? 0 : it->second / 1e3 / results[k].pairs;
            total[k] += us;
            std::printf(" %9.1f", us);
        }
        std::printf("\n");
    }
    std::printf("%-28s", "whole tree");
    for (double us : total) std::printf(" %9.1f", us);
    std::printf("\n%-28s", "wake-ups per pair");
    for (const LoadResult& r : results) std::printf(" %9.1f", static_cast<double>(r.switches) / r.pairs);
    std::printf("\n");
    if (total.size() > 1 && total.front() > 0)
        std::printf("whole tree [%zu] / [1]: %.2f\n", total.size(), total.back() / total.front());
}

// CPU of one hand-over between two processes through a semaphore, as the
// stages hand records on (a post, a wake-up, a wait): the unit that the tree's
// cost per pair is mostly made of on this machine.
double handOverUs() {
    const int there = semget(IPC_PRIVATE, 1, 0600), back = semget(IPC_PRIVATE, 1, 0600);
    const int rounds = 20000;
    const pid_t child = fork();
    if (child == 0) {
        for (int k = 0; k < rounds; ++k) {
            waitSemaphore(there);
            setSemaphore(back, 1);
        }
        _exit(0);
    }
    rusage childrenBefore, childrenAfter;
    getrusage(RUSAGE_CHILDREN, &childrenBefore);
    timespec t0, t1;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
    for (int k = 0; k < rounds; ++k) {
        setSemaphore(there, 1);
        waitSemaphore(back);
    }
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
    waitpid(child, nullptr, 0);
    getrusage(RUSAGE_CHILDREN, &childrenAfter);
    semctl(there, 0, IPC_RMID);
    semctl(back, 0, IPC_RMID);
    auto us = [](const timeval& t) { return t.tv_sec * 1e6 + t.tv_usec; };
    const double childUs = us(childrenAfter.ru_utime) + us(childrenAfter.ru_stime) - us(childrenBefore.ru_utime) -
                           us(childrenBefore.ru_stime);
    const double parentUs = (t1.tv_sec - t0.tv_sec) * 1e6 + (t1.tv_nsec - t0.tv_nsec) / 1e3;
    return (childUs + parentUs) / (2.0 * rounds);
}

int load(const TempDir& dir, int seconds, std::vector<std::string> programs) {
    if (programs.empty()) programs.push_back(VINTOR_BIN);
    const std::string recording = dir.file("recording.txt");
    // Enough pairs that no radar reaches the end of the file within a run.
    const std::string gen = std::string(REPLAYGEN_BIN) + " -d 800 -a 20 -T 8 -i 100 -s 256 -n " +
                            std::to_string(seconds * 10 + 400) + " -o " + recording;
    if (std::system(gen.c_str()) != 0) return 1;
    for (int radars : {1, 3}) {
        // Two halves, the programs taking turns, so that a change in the
        // machine's load falls on all of them alike.
        std::vector<LoadResult> results(programs.size());
        for (int half = 0; half < 2; ++half)
            for (std::size_t k = 0; k < programs.size(); ++k) {
                LoadResult r;
                if (!loadRun(dir, programs[k], radars, (seconds + 1) / 2, recording, &r)) return 1;
                results[k].pairs += r.pairs;
                results[k].seconds += r.seconds;
                results[k].switches += r.switches;
                for (const auto& [name, ns] : r.cpuNs) results[k].cpuNs[name] += ns;
            }
        printLoad(radars, programs, results);
        std::printf("one hand-over between two processes: %.1f us\n", handOverUs());
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) usage(stdout, 0);
    const bool isLoad = argc > 1 && std::strcmp(argv[1], "--load") == 0;
    int count = isLoad ? 60 : 2000;
    std::vector<std::string> programs;
    for (int k = isLoad ? 2 : 1; k < argc; ++k) {
        if (isLoad && std::strcmp(argv[k], "--vintor") == 0 && k + 1 < argc) {
            char real[PATH_MAX];
            if (realpath(argv[++k], real) == nullptr || access(real, X_OK) != 0) usage(stderr, 2);
            programs.push_back(real);
        } else if (k == (isLoad ? 2 : 1)) {
            count = positive(argv[k]);
        } else {
            usage(stderr, 2);
        }
    }
    if (std::getenv("NS_RUN_INSIDE") == nullptr) {
        runInPrivateNamespace(argv);
        std::perror(NS_RUN);
        return 1;
    }
    TempDir dir;
    return isLoad ? load(dir, count, programs) : latency(dir, count);
}
