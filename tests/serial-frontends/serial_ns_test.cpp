// vintor as a real process with each serial simulator, inside the private
// namespace of tests/ns-run (fixed ports, files and semaphore keys): sweeps
// land in ring radar0, a broken sweep becomes a NaN record, and the chain turns
// the simulated beat tone into the height of the simulated water surface.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/json.h>

#include "defaults.h"
#include "harness.h"
#include "records.h"
#include "timer.h"

using namespace testsupport;

namespace {

// Surface 1000 cm below an antenna mounted at 1200 cm: a height of 200 cm.
constexpr double DISTANCE = 1000, MOUNTING = 1200, AMPLITUDE = 2000;
constexpr double PI = 3.14159265358979323846;

// Sample i of the beat tone of a target at DISTANCE: frequency 2 d sweepSpeed / c.
long toneSample(int i) {
    const double beatHz = 2.0 * DISTANCE / 100.0 * double(DEF_sweepSpeed) / double(DEF_speedOfLight);
    return std::lround(AMPLITUDE * std::cos(2.0 * PI * beatHz * i / double(DEF_sampleFrequency)));
}

// A simulator as a process, its terminal's path in /tmp, control lines through a FIFO.
class Simulator {
public:
    Simulator(const TempDir& dir, const std::string& bin, const std::string& name, std::vector<std::string> extra)
        : link_("/tmp/" + name + ".tty"), fifo_(dir.file(name + ".ctl")) {
        mkfifo(fifo_.c_str(), 0600);
        std::vector<std::string> args = {"-l", link_, "-c", fifo_, "-d", "1000"};
        args.insert(args.end(), extra.begin(), extra.end());
        proc.reset(new Process(bin, args));
        ready = proc->waitForLine(name + " ready", milliseconds(5000));
        ctl_ = open(fifo_.c_str(), O_RDWR | O_CLOEXEC);
    }
    ~Simulator() { close(ctl_); }
    void control(const std::string& line) const {
        const std::string l = line + "\n";
        EXPECT_EQ(write(ctl_, l.data(), l.size()), ssize_t(l.size()));
    }
    std::string tty() const {
        std::string t = readFile(link_);
        while (!t.empty() && t.back() == '\n') t.pop_back();
        return t;
    }

    std::unique_ptr<Process> proc;
    bool ready = false;

private:
    std::string link_, fifo_;
    int ctl_ = -1;
};

// The station's default set-up with radar0 on the simulator's terminal.
std::string stationWith(const std::string& brand, const std::string& comport, const std::string& sweepsize,
                        const std::string& timeout) {
    Json::Value root;
    std::istringstream in(readFile(sourcePath("config/station.json")));
    std::string errors;
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &root, &errors)) << errors;
    root["vintor"]["vintor"]["timeout"] = timeout;
    Json::Value& radar = root["radar"];
    radar["brand"] = brand;
    radar["comport"] = comport;
    radar["sweepsize"] = sweepsize;
    radar["nrofsweeps"] = "2";
    radar["scanspeed"] = "500";
    radar["radid"] = "1";
    radar["mountingheight"] = "1200";
    radar["mountingangle"] = "0";
    radar["radaroffset"] = "0";
    return Json::writeString(Json::StreamWriterBuilder(), root);
}

int index0(const sharedmem_st* m) { return __atomic_load_n(&m->key.radar0, __ATOMIC_ACQUIRE); }

// The station running: the stand-in, vintor, the heave feed and the rings.
struct Station {
    Station(const TempDir& dir, const std::string& config) {
        service = startConfigServiceWith(dir, config);
        heave.reset(new Subscriber("tcp://127.0.0.1:5033"));
        vintor.reset(new Process(VINTOR_BIN, {"5010", "5011"}, Process::Options{true, "", {}}));
        shm = mapSharedReadOnly<sharedmem_st>("/tmp/sharedmem");
        radar0 = mapSharedReadOnly<sharedmemRadar_st>("/tmp/sharedmemRadar0");
    }
    // The next record stored after `after` that satisfies want; false when none came in time.
    bool nextRecord(int* after, radar_st* out, const std::function<bool(const radar_st&)>& want, int seconds) {
        for (int i = 0; i < seconds * 20; ++i) {
            while (index0(shm) != *after) {
                *after = (*after + 1) % MEMCACHE_MAX_INDEX;
                std::memcpy(out, &radar0->radar[*after], sizeof *out);
                if (want(*out)) return true;
            }
            vintor->drain(milliseconds(50));
        }
        return false;
    }
    // Heights from the "heave" feed until `count` valid ones came; their largest error from the surface's.
    double heights(int count, int* valid) {
        double worst = 0;
        std::string message;
        *valid = 0;
        for (int lines = 0; *valid < count && lines < 4 * count && heave->receive(&message, milliseconds(20000));
             ++lines) {
            const std::string line(message.c_str());
            const size_t at = line.find("heave=");
            if (at == std::string::npos || line.compare(at + 6, 3, "NaN") == 0) continue;
            worst = std::max(worst, std::fabs(std::atof(line.c_str() + at + 6) - (MOUNTING - DISTANCE)));
            ++*valid;
        }
        return worst;
    }

    std::unique_ptr<Process> service;
    std::unique_ptr<Subscriber> heave;
    std::unique_ptr<Process> vintor;
    const sharedmem_st* shm = nullptr;
    const sharedmemRadar_st* radar0 = nullptr;
};

bool valid(const radar_st& r) { return r.nan == 0; }
bool failed(const radar_st& r) { return r.nan == 1; }

// What every serial radar must give: a first valid record (checked by
// firstRecord), the sign of a finished set-up in the simulator's log, a NaN
// record after the fault switch, valid records again, and heights.
struct StationRun {
    const char* bin;
    const char* name;
    std::vector<std::string> simArgs;
    std::string config;  // station set-up; COMPORT stands for the simulator's terminal
    const char* setUpLine;
    const char* fault;
    const char* late = nullptr;  // makes the next reply come after the byte-count polling
};

void runStation(const StationRun& run, const std::function<void(const radar_st&)>& firstRecord) {
    TempDir dir;
    Simulator sim(dir, run.bin, run.name, run.simArgs);
    ASSERT_TRUE(sim.ready);
    std::string config = run.config;
    config.replace(config.find("COMPORT"), 7, sim.tty());
    Station station(dir, config);
    ASSERT_TRUE(station.service && station.shm && station.radar0);

    int at = 0;
    radar_st r;
    ASSERT_TRUE(station.nextRecord(&at, &r, valid, 60)) << station.vintor->output() << sim.proc->output();
    EXPECT_STREQ(r.section, "radar0");
    EXPECT_EQ(r.nrOfSweeps, 2);
    firstRecord(r);
    EXPECT_TRUE(sim.proc->waitForLine(run.setUpLine, milliseconds(2000)));

    sim.control(run.fault);
    ASSERT_TRUE(station.nextRecord(&at, &r, failed, 20)) << station.vintor->output();
    EXPECT_EQ(r.length, 0);
    EXPECT_EQ(r.nrOfSweeps, 0);
    ASSERT_TRUE(station.nextRecord(&at, &r, valid, 20));

    int heights = 0;
    const double worst = station.heights(5, &heights);
    std::printf("heights %d, worst error %.3f cm\n", heights, worst);
    EXPECT_EQ(heights, 5) << station.vintor->output();
    EXPECT_LT(worst, 2.0);

    if (run.late == nullptr) return;
    // A reply within the readable wait that follows the polling is no lost
    // line: the radar process measures on without being set up again.
    const double lateAt = getTime();
    sim.control(run.late);
    ASSERT_TRUE(sim.proc->waitForLine(std::string("control ") + run.late, milliseconds(2000)));
    auto afterTheLateReply = [lateAt](const radar_st& r) {
        return valid(r) && std::stoll("0" + std::string(r.time, strnlen(r.time, sizeof r.time))) > lateAt + 8000;
    };
    EXPECT_TRUE(station.nextRecord(&at, &r, afterTheLateReply, 40)) << station.vintor->output();
    EXPECT_EQ(station.vintor->output().find(" lost"), std::string::npos) << station.vintor->output();
    sim.proc->drain(milliseconds(100));
    EXPECT_EQ(count(sim.proc->output(), run.setUpLine), 1u) << sim.proc->output();
}

TEST(SerialRadarStation, SweepsRecordsAndHeights) {
    // CAN answers in pieces of 64 bytes: the set-up takes seconds, not tens of them.
    // A receive polls the byte count for 5.1 s, then waits up to 1 s: 5.7 s falls within that wait.
    const StationRun run = {SERIAL_RADAR_SIM_BIN, "serial-radar-sim", {"-P", "64"}, stationWith("enraf", "COMPORT", "256", "200"),
                     "frame 01 01 FE 01 00 04 00 00 04 00", "short", "late 5700"};
    runStation(run, [](const radar_st& r) {
        EXPECT_EQ(r.brand, ENRAF);
        // The set-up asked for 256 samples x 2 sweeps x 2 bytes.
        ASSERT_EQ(r.length, 1024);
        const unsigned char* b = reinterpret_cast<const unsigned char*>(r.data.com);
        for (int s = 0; s < 2; ++s)
            for (int i = 0; i < 256; ++i)
                ASSERT_EQ(int16_t(b[2 * (256 * s + i)] | b[2 * (256 * s + i) + 1] << 8), toneSample(i)) << s << " " << i;
    });
}

TEST(SiversStation, SweepsRecordsAndHeights) {
    // Every reply, a whole trace of 1024 lines included, within 2 s.
    const StationRun run = {SIVERS_SIM_BIN, "sivers-sim", {}, stationWith("siversima", "COMPORT", "1024", "2000"),
                     "cmd sweep:numbers 2", "noend"};
    runStation(run, [](const radar_st& r) {
        EXPECT_EQ(r.brand, SIVERSIMA);
        ASSERT_EQ(r.length, 1024);
        for (int i = 0; i < 1024; ++i) ASSERT_EQ(r.data.siv[i], toneSample(i)) << i;
    });
}

// A device that vanishes (the simulator hangs its terminal up, as an unplugged
// USB adapter does) ends the radar process with a line naming the port: no
// front-end reads on from the dead descriptor. The radars stage then starts
// again and opens the device afresh. One row per front-end, each in a private
// namespace of its own (see CMakeLists.txt).
struct GoneRow {
    const char* bin;
    const char* name;
    std::vector<std::string> simArgs;
    const char* brand;
    const char* sweepsize;
    const char* timeout;
};

class SerialLineGone : public ::testing::TestWithParam<GoneRow> {};

TEST_P(SerialLineGone, EndsTheRadarProcessWithALineNamingThePort) {
    const GoneRow& row = GetParam();
    TempDir dir;
    Simulator sim(dir, row.bin, row.name, row.simArgs);
    ASSERT_TRUE(sim.ready);
    const std::string tty = sim.tty();
    Station station(dir, stationWith(row.brand, tty, row.sweepsize, row.timeout));
    ASSERT_TRUE(station.service && station.shm && station.radar0);
    int at = 0;
    radar_st r;
    ASSERT_TRUE(station.nextRecord(&at, &r, valid, 60)) << station.vintor->output() << sim.proc->output();

    sim.control("hangup");
    const std::string lost = "Serial line " + tty + " lost";
    bool said = false;
    for (int i = 0; i < 400 && !said; ++i) {
        station.vintor->drain(milliseconds(50));
        said = station.vintor->output().find(lost) != std::string::npos;
    }
    EXPECT_TRUE(said) << station.vintor->output();
    // The radars stage comes back and finds the device missing, and the supervisor runs on.
    EXPECT_TRUE(station.vintor->waitForLine(tty + ": No such file or directory", milliseconds(20000)))
        << station.vintor->output();
    EXPECT_TRUE(station.vintor->running());
}

INSTANTIATE_TEST_SUITE_P(
    FrontEnds, SerialLineGone,
    ::testing::Values(GoneRow{SERIAL_RADAR_SIM_BIN, "serial-radar-sim", {"-P", "64"}, "enraf", "256", "200"},
                      GoneRow{SIVERS_SIM_BIN, "sivers-sim", {}, "siversima", "1024", "2000"}));

}  // namespace
