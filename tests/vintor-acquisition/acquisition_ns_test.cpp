// The real program on its fixed ports, files and semaphore keys, inside the
// private namespace of tests/ns-run: the radars stage replays the bundled
// recording into ring radar0 at the configured pace, and a radar process that
// dies takes its manager with it, after which the supervisor starts the stage
// again.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "defaults.h"
#include "acquisition_support.h"
#include "harness.h"
#include "records.h"

using namespace testsupport;
using acq::childrenOf;

namespace {

// A radar section replaying `filename` with a period and a phase.
std::string radarSection(const std::string& filename, const std::string& scanspeed = "200",
                         const std::string& timeoffset = "20") {
    return R"({"active": "1", "brand": "readfile", "filename": ")" + filename +
           R"(", "sweepsize": "256", "nrofsweeps": "2", "scanspeed": ")" + scanspeed + R"(", "timeoffset": ")" +
           timeoffset + R"(", "comport": "/dev/ttyS0"})";
}

// The radars stage alone, with the sections "radar", "radar2" and "radar3".
std::string config(const std::string& radar0 = radarSection(sourcePath("data/recording.txt")),
                   const std::string& radar1 = R"({"active": "0"})",
                   const std::string& radar2 = R"({"active": "0"})") {
    return R"({
  "vintor": {"vintor": {"debug": "1", "timeout": "5", "debugradars": "0"},
             "module": {"radars": "1"}},
  "radar": )" + radar0 + R"(,
  "radar2": )" + radar1 + R"(,
  "radar3": )" + radar2 + R"(
})";
}

// The radars stage's pid, from the supervisor's line for its next fork, or 0.
pid_t nextManager(Process& vintor) {
    std::string line;
    if (!vintor.waitForLine("Radars pid=", milliseconds(5000), &line)) return 0;
    return atoi(line.c_str() + line.find("Radars pid=") + 11);
}

// The `count` radar processes `manager` runs, once it has forked them all;
// empty when it did not.
std::vector<pid_t> radarsOf(pid_t manager, size_t count, Process& drainFrom) {
    for (int i = 0; i < 100; ++i) {
        std::vector<pid_t> radars = childrenOf(manager);
        if (radars.size() == count) return radars;
        drainFrom.drain(milliseconds(50));
    }
    return {};
}

// The one radar process `manager` runs, once it has forked it, or 0.
pid_t radarOf(pid_t manager, Process& drainFrom) {
    std::vector<pid_t> radars = radarsOf(manager, 1, drainFrom);
    return radars.empty() ? 0 : radars[0];
}

int index0(const sharedmem_st* m) { return __atomic_load_n(&m->key.radar0, __ATOMIC_ACQUIRE); }

// vintor on `json` with its radars stage and the `count` radars it forked.
struct RadarsRun {
    TempDir dir;
    std::unique_ptr<Process> service;
    std::unique_ptr<Process> vintor;
    pid_t manager = 0;
    std::vector<pid_t> radars;
    pid_t radar = 0;  // the first

    explicit RadarsRun(const std::string& json = config(), size_t count = 1)
        : service(startConfigServiceWith(dir, json)) {
        if (!service) return;
        Process::Options po;
        po.mergeStderr = true;
        vintor = std::make_unique<Process>(VINTOR_BIN, std::vector<std::string>{"5010", "5011"}, po);
        manager = nextManager(*vintor);
        if (manager != 0) radars = radarsOf(manager, count, *vintor);
        if (!radars.empty()) radar = radars[0];
    }
};

}  // namespace

TEST(VintorRadars, ReplaysTheRecordingAtThePacedRateAndRestartsAfterARadarDies) {
    RadarsRun run;
    ASSERT_TRUE(run.service);
    Process& vintor = *run.vintor;
    const pid_t manager = run.manager;
    ASSERT_NE(manager, 0) << vintor.output();
    const sharedmem_st* shm = mapSharedReadOnly<sharedmem_st>("/tmp/sharedmem");
    const sharedmemRadar_st* radar0 = mapSharedReadOnly<sharedmemRadar_st>("/tmp/sharedmemRadar0");
    ASSERT_TRUE(shm && radar0);

    const pid_t radar = run.radar;
    ASSERT_NE(radar, 0) << vintor.output();

    for (int i = 0; i < 100 && index0(shm) < 1; ++i) vintor.drain(milliseconds(50));
    ASSERT_GE(index0(shm), 1);
    // Paced to 200 ms: about five records a second, each with the recording's time.
    const int first = index0(shm);
    vintor.drain(milliseconds(3000));
    const int stored = index0(shm) - first;
    EXPECT_GE(stored, 9) << vintor.output();
    EXPECT_LE(stored, 18) << vintor.output();
    const radar_st& r = radar0->radar[1];
    EXPECT_STREQ(r.time, "1700000000000");
    EXPECT_STREQ(r.section, "radar0");
    EXPECT_EQ(r.brand, READFILE);
    EXPECT_EQ(r.length, 256);
    EXPECT_EQ(r.nan, 0);
    EXPECT_EQ(r.nrOfSweeps, 2);
    EXPECT_STREQ(shm->key.radars, "radar0");
    EXPECT_EQ(semctl(semget(KEYFFT, 1, 0), 0, GETVAL), 1);
    EXPECT_EQ(radar0->semafore, semget(KEYRADAR0, 1, 0));
    EXPECT_EQ(shm->status.radarCom, 2);

    // A radar process that dies ends its manager; the supervisor starts the
    // radars stage again, which starts the radar again.
    ASSERT_EQ(kill(radar, SIGKILL), 0);
    ASSERT_TRUE(vintor.waitForLine("Error child FetchSerialData returned", milliseconds(4000)))
        << vintor.output();
    pid_t manager2 = nextManager(vintor);
    ASSERT_NE(manager2, 0) << vintor.output();
    ASSERT_NE(manager2, manager);
    pid_t radar2 = radarOf(manager2, vintor);
    ASSERT_NE(radar2, 0);
    EXPECT_NE(radar2, radar);
    const int before = index0(shm);
    vintor.drain(milliseconds(1500));
    EXPECT_NE(index0(shm), before) << "records flow again";
}

// What ps shows: the radar manager and its radar, each under its own title.
// The emulator shows its own command line in /proc/<pid>/cmdline, not the
// title a process gives itself.
TEST(VintorRadars, TitlesTheManagerAndItsRadar) {
    RadarsRun run;
    ASSERT_TRUE(run.service);
    ASSERT_NE(run.manager, 0) << run.vintor->output();
    ASSERT_NE(run.radar, 0) << run.vintor->output();
    const struct {
        pid_t pid;
        const char* title;
    } titled[] = {{run.manager, "VintorRadars"}, {run.radar, "vintorradar0"}};
    for (const auto& t : titled) {
        const std::string cmdline = "/proc/" + std::to_string(t.pid) + "/cmdline";
        EXPECT_TRUE(acq::eventually([&] { return readFile(cmdline).rfind(t.title, 0) == 0; }, milliseconds(5000)))
            << t.title;
    }
}

// Periods and phases at the ends of their type ("99999999999999999999" reads
// as the largest): each radar goes on storing its paced pairs, in the process
// it began in, without a word from the sanitizers.
TEST(VintorRadars, PacesPeriodsAndPhasesAtTheEndsOfTheirType) {
    const std::string recording = sourcePath("data/recording.txt");
    RadarsRun run(config(radarSection(recording, "99999999999999999999"),
                         radarSection(recording, "9223372036854775807", "9223372036854775807"),
                         radarSection(recording, "200", "-9223372036854775808")),
                  3);
    ASSERT_TRUE(run.service);
    Process& vintor = *run.vintor;
    ASSERT_EQ(run.radars.size(), 3u) << vintor.output();
    const sharedmem_st* shm = mapSharedReadOnly<sharedmem_st>("/tmp/sharedmem");
    ASSERT_TRUE(shm);
    const int* rings[3] = {&shm->key.radar0, &shm->key.radar1, &shm->key.radar2};
    // The longest periods pause 300, 400, 500 ms ... after their first pairs.
    for (const int* ring : rings) {
        for (int i = 0; i < 100 && __atomic_load_n(ring, __ATOMIC_ACQUIRE) < 4; ++i) vintor.drain(milliseconds(50));
        EXPECT_GE(__atomic_load_n(ring, __ATOMIC_ACQUIRE), 4) << vintor.output();
    }
    EXPECT_EQ(childrenOf(run.manager), run.radars) << vintor.output();
    EXPECT_EQ(vintor.output().find("runtime error"), std::string::npos) << vintor.output();
}

// A line of 2 MiB amid the recording costs its pair alone: the radar stores
// one failed sweep, then the recording's next pairs, in the process it began in.
TEST(VintorRadars, ReplaysPastAVeryLongLine) {
    TempDir files;
    const std::vector<std::string> lines = acq::recordingLines();
    const std::string file = files.file("long.txt");
    {
        std::ofstream out(file, std::ios::binary);
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i == 10) out << "raw=big;1;1;" << std::string(2 << 20, '5') << "\nraw=big;2;2;1\n";
            out << lines[i] << "\n";
        }
    }
    RadarsRun run(config(radarSection(file)));
    ASSERT_TRUE(run.service);
    Process& vintor = *run.vintor;
    ASSERT_NE(run.radar, 0) << vintor.output();
    const sharedmem_st* shm = mapSharedReadOnly<sharedmem_st>("/tmp/sharedmem");
    const sharedmemRadar_st* radar0 = mapSharedReadOnly<sharedmemRadar_st>("/tmp/sharedmemRadar0");
    ASSERT_TRUE(shm && radar0);
    // Paced to 200 ms; the ring's first record is in slot 1.
    for (int i = 0; i < 200 && index0(shm) < 10; ++i) vintor.drain(milliseconds(50));
    ASSERT_GE(index0(shm), 10) << vintor.output();
    for (int slot = 1; slot <= 10; ++slot) {
        const radar_st& r = radar0->radar[slot];
        if (slot == 6) {
            EXPECT_EQ(r.length, 0) << "the long line's pair";
            continue;
        }
        const size_t pair = size_t(slot <= 5 ? slot - 1 : slot - 2);
        EXPECT_EQ(r.length, 256) << "slot " << slot;
        EXPECT_EQ(r.time, acq::parseIndependently(lines[2 * pair]).time) << "slot " << slot;
    }
    EXPECT_EQ(childrenOf(run.manager), std::vector<pid_t>{run.radar}) << vintor.output();
}

namespace {

// Peak resident set of a process in KiB, 0 when it has gone.
long peakResidentKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string key; in >> key;) {
        if (key == "VmHWM:") {
            long kib = 0;
            in >> kib;
            return kib;
        }
        in.ignore(1 << 20, '\n');
    }
    return 0;
}

// A process and all its descendants.
std::vector<pid_t> treeOf(pid_t root) {
    std::vector<pid_t> tree = {root};
    for (size_t i = 0; i < tree.size(); ++i)
        for (pid_t c : childrenOf(tree[i])) tree.push_back(c);
    return tree;
}

}  // namespace

// A replay file without line ends is read a line's room at a time: every
// vintor process stays small, and the radar goes on making (failed) sweeps.
TEST(VintorRadars, AFileWithoutLineEndsKeepsEveryProcessSmall) {
    TempDir files;
    const std::string endless = files.file("endless.txt");
    {
        std::ofstream out(endless, std::ios::binary);
        const std::string block(1 << 20, '7');
        for (int i = 0; i < 64; ++i) out << block;
    }
    for (const std::string& file : {std::string("/dev/zero"), endless}) {
        SCOPED_TRACE(file);
        RadarsRun run(config(radarSection(file)));
        ASSERT_TRUE(run.service);
        Process& vintor = *run.vintor;
        ASSERT_NE(run.radar, 0) << vintor.output();
        const sharedmem_st* shm = mapSharedReadOnly<sharedmem_st>("/tmp/sharedmem");
        ASSERT_TRUE(shm);
        // What the supervisor holds after its start is what every process of
        // the tree begins with; a line read whole would add tens of MiB.
        const long base = peakResidentKiB(vintor.pid());
        long peak = 0;
        pid_t largest = 0;
        const auto end = std::chrono::steady_clock::now() + milliseconds(2500);
        while (std::chrono::steady_clock::now() < end) {
            for (pid_t p : treeOf(vintor.pid())) {
                const long kib = peakResidentKiB(p);
                if (kib > peak) peak = kib, largest = p;
            }
            if (peak > base + 32 * 1024) break;
            vintor.drain(milliseconds(20));
        }
        EXPECT_LE(peak, base + 32 * 1024) << "KiB, process " << largest << ", supervisor " << base;
        EXPECT_GE(index0(shm), 2) << "failed sweeps stored\n" << vintor.output();
        std::printf("%s: peak %ld KiB, supervisor %ld KiB\n", file.c_str(), peak, base);
    }
}
