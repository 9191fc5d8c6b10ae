// Latency: drives vintor's real process tree as its radar would: a sweep
// record goes into ring radar0, the FFT semaphore is raised, and the time until
// the matching "heave" line arrives is taken. With --load, three radar
// processes replay a recording at 10 sweep pairs per second each and the CPU
// time and resident memory of every process of the tree are read from /proc.
// It runs itself in a private namespace (tests/ns-run), so vintor has its fixed
// ports, files and keys and everything it starts ends with it, however it ends.
#include <dirent.h>
#include <limits.h>
#include <fcntl.h>
#include <json/json.h>
#include <sys/mman.h>
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

struct ProcStat {
    std::string name;
    double cpuSeconds = 0;
    long rssKb = 0;
};

// Every process in the process group of the supervisor.
std::map<int, ProcStat> treeStats(int pgid) {
    std::map<int, ProcStat> out;
    DIR* d = opendir("/proc");
    if (!d) return out;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
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
        rest >> state >> ppid >> pgrp >> session >> tty >> tpgid >> flags >> minflt >> cminflt >> majflt >> cmajflt >>
            utime >> stime;
        if (pgrp != pgid) continue;
        ProcStat p;
        std::ifstream cmd("/proc/" + std::to_string(pid) + "/cmdline");
        std::getline(cmd, p.name, '\0');
        p.cpuSeconds = (utime + stime) / tick;
        // Nanoseconds on the CPU where the kernel keeps them; clock ticks are too coarse here.
        std::ifstream sched("/proc/" + std::to_string(pid) + "/schedstat");
        unsigned long long ns = 0;
        if (sched >> ns) p.cpuSeconds = ns / 1e9;
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string s; std::getline(status, s);)
            if (s.rfind("VmRSS:", 0) == 0) p.rssKb = std::atol(s.c_str() + 6);
        out[pid] = p;
    }
    closedir(d);
    return out;
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
                 "usage: bench_chainlatency [records]          latency of [records] (2000) sweep records\n"
                 "       bench_chainlatency --load [seconds]   three replaying radars for [seconds] (20)\n");
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

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) usage(stdout, 0);
    const bool load = argc > 1 && std::strcmp(argv[1], "--load") == 0;
    const int first = load ? 2 : 1;
    if (argc > first + 1) usage(stderr, 2);
    const int count = argc > first ? positive(argv[first]) : (load ? 20 : 2000);
    const int radars = load ? 3 : 1;
    if (std::getenv("NS_RUN_INSIDE") == nullptr) {
        runInPrivateNamespace(argv);
        std::perror(NS_RUN);
        return 1;
    }

    TempDir dir;
    std::string recording;
    if (load) {
        recording = dir.file("recording.txt");
        const std::string gen = std::string(REPLAYGEN_BIN) + " -d 800 -a 20 -T 8 -i 100 -s 256 -n " +
                                std::to_string(count * 10 + 200) + " -o " + recording;
        if (std::system(gen.c_str()) != 0) return 1;
    }
    writeFile(dir.file("station.json"), configText(radars, recording));
    writeFile(dir.file("memory.json"), readFile(sourcePath("config/memory.json")));
    ConfigServiceOptions o;
    o.config = dir.file("station.json");
    o.memory = dir.file("memory.json");
    auto service = startConfigService(o);
    if (!service) {
        std::fprintf(stderr, "configuration stand-in did not start (run inside tests/ns-run)\n");
        return 1;
    }
    Subscriber heave("tcp://127.0.0.1:5033");
    Process vintor(VINTOR_BIN, {"5010", "5011"}, Process::Options{true, "", {}});
    // The supervisor creates the files before it starts any stage; the FFT stage
    // reads the list of radars once, when it starts.
    const std::string lastFile = "/tmp/sharedmemRadar" + std::to_string(radars - 1);
    for (int k = 0; k < 5000 && access(lastFile.c_str(), F_OK) != 0; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    sharedmem = mapShared<sharedmem_st>("/tmp/sharedmem");
    sharedmemRadar_st** rings[3] = {&sharedmemRadar0, &sharedmemRadar1, &sharedmemRadar2};
    for (int k = 0; k < radars; ++k)
        *rings[k] = mapShared<sharedmemRadar_st>("/tmp/sharedmemRadar" + std::to_string(k), milliseconds(0));
    if (!sharedmem || !sharedmemRadar0) {
        std::fprintf(stderr, "vintor did not create its shared memory:\n%s\n", vintor.output().c_str());
        return 1;
    }
    ConfigFile cf(5010, 5011);
    SharedMem storage(&cf);

    const int semFft = getSemaphore(KEYFFT);
    auto radarRecord = std::make_unique<radar_st>();
    long long t0 = 1700000000000;
    const char* names[3] = {"radar0", "radar1", "radar2"};

    // The supervisor starts one stage per pass: wait until the whole chain answers.
    {
        std::string line;
        bool up = false;
        for (int k = 0; k < 100 && !up; ++k, ++t0) {
            if (!load) {
                fillRecord(*radarRecord, names[0], t0);
                storage.add(names[0], radarRecord.get(), sizeof(radar_st));
                setSemaphore(semFft, 1);
            }
            up = heave.receive(&line, std::chrono::milliseconds(300));
        }
        if (!up) {
            vintor.drain(std::chrono::milliseconds(500));
            std::fprintf(stderr, "the chain did not answer:\n%s\n", vintor.output().c_str());
            return 1;
        }
        t0 += 1000;
    }

    if (!load) {
        std::vector<double> latencies;
        std::string line;
        const int warmup = 50;
        for (int k = 0; k < warmup + count; ++k) {
            fillRecord(*radarRecord, "radar0", t0 + k);
            const std::string want = "time=" + std::to_string(t0 + k) + ";";
            const auto start = Clock::now();
            storage.add("radar0", radarRecord.get(), sizeof(radar_st));
            setSemaphore(semFft, 1);
            bool got = false;
            while (heave.receive(&line, std::chrono::milliseconds(2000)))
                if (line.compare(0, want.size(), want) == 0) {
                    got = true;
                    break;
                }
            const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
            if (!got) {
                vintor.drain(std::chrono::milliseconds(500));
                std::fprintf(stderr, "no heave line for record %d\n%s\n", k, vintor.output().c_str());
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

    // Three radar processes replay 10 pairs a second each; measure count seconds.
    const int pgid = vintor.pid();
    const auto before = treeStats(pgid);
    const int fftBefore = sharedmem->status.fft;
    std::string line;
    const auto until = Clock::now() + std::chrono::seconds(count);
    while (Clock::now() < until) heave.receive(&line, std::chrono::milliseconds(100));
    const int pairs = sharedmem->status.fft - fftBefore;
    const auto after = treeStats(pgid);
    double cpu = 0;
    std::printf("%-24s %10s %10s\n", "process", "cpu s", "rss kB");
    for (const auto& [pid, p] : after) {
        const auto b = before.find(pid);
        const double used = p.cpuSeconds - (b == before.end() ? 0 : b->second.cpuSeconds);
        cpu += used;
        std::printf("%-24s %10.3f %10ld\n", p.name.c_str(), used, p.rssKb);
    }
    std::printf("%d sweep pairs in %d s from %d radars: %.1f us CPU per pair for the whole tree (%.2f %% of one core)\n",
                pairs, count, radars, cpu / pairs * 1e6, cpu / count * 100);
    char list[RADARS_TEXT_SIZE + 1] = {};
    unsigned int len = 0;
    storage.get("radars", list, &len, 0);
    std::printf("radars: %s\n", list);
    std::printf("records handled: fft %d, valid heights %d, rejected %d\n", sharedmem->status.fft,
                sharedmem->status.peak, sharedmem->status.peakmiss);
    return 0;
}
