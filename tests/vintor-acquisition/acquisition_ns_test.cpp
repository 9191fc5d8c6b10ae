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

std::string config() {
    return R"({
  "vintor": {"vintor": {"debug": "1", "timeout": "5", "debugradars": "0"},
             "module": {"radars": "1"}},
  "radar": {"active": "1", "brand": "readfile", "filename": ")" +
           sourcePath("data/recording.txt") + R"(",
            "sweepsize": "256", "nrofsweeps": "2", "scanspeed": "200", "timeoffset": "20",
            "comport": "/dev/ttyS0"},
  "radar2": {"active": "0"},
  "radar3": {"active": "0"}
})";
}

// The radars stage's pid, from the supervisor's line for its next fork, or 0.
pid_t nextManager(Process& vintor) {
    std::string line;
    if (!vintor.waitForLine("Radars pid=", milliseconds(5000), &line)) return 0;
    return atoi(line.c_str() + line.find("Radars pid=") + 11);
}

// The one radar process `manager` runs, once it has forked it, or 0.
pid_t radarOf(pid_t manager, Process& drainFrom) {
    for (int i = 0; i < 100; ++i) {
        std::vector<pid_t> radars = childrenOf(manager);
        if (radars.size() == 1) return radars[0];
        drainFrom.drain(milliseconds(50));
    }
    return 0;
}

int index0(const sharedmem_st* m) { return __atomic_load_n(&m->key.radar0, __ATOMIC_ACQUIRE); }

// vintor on config() with its radars stage and the one radar it forked.
struct RadarsRun {
    TempDir dir;
    std::unique_ptr<Process> service = startConfigServiceWith(dir, config());
    std::unique_ptr<Process> vintor;
    pid_t manager = 0;
    pid_t radar = 0;

    RadarsRun() {
        if (!service) return;
        Process::Options po;
        po.mergeStderr = true;
        vintor = std::make_unique<Process>(VINTOR_BIN, std::vector<std::string>{"5010", "5011"}, po);
        manager = nextManager(*vintor);
        if (manager != 0) radar = radarOf(manager, *vintor);
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
