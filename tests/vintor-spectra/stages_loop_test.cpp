// The FFT and peak stages as processes: real mapped rings in a temporary
// directory, real System V semaphores under private keys, the configuration
// from the configuration service stand-in, and their feeds on loopback.
#include "configfile.h"
#include "fft.h"
#include "harness.h"
#include "peak.h"
#include "sharedmem.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

using namespace testsupport;
using std::chrono::milliseconds;

namespace {

// Shared-memory files of one test, mapped as the supervisor maps them.
struct SharedFiles {
    TempDir dir;
    void* maps[3] = {nullptr, nullptr, nullptr};
    int fds[3] = {-1, -1, -1};

    SharedFiles()
    {
        EXPECT_EQ(createSharedFile(dir.file("sharedmem"), SHAREDMEM_FILE_SIZE, &maps[0], &fds[0]), SharedFileResult::Ok);
        EXPECT_EQ(createSharedFile(dir.file("radar0"), SHAREDMEM_RADAR_FILE_SIZE, &maps[1], &fds[1]), SharedFileResult::Ok);
        EXPECT_EQ(createSharedFile(dir.file("radar2"), SHAREDMEM_RADAR_FILE_SIZE, &maps[2], &fds[2]), SharedFileResult::Ok);
        sharedmem = static_cast<sharedmem_st*>(maps[0]);
        sharedmemFd = fds[0];
        sharedmemRadar0 = static_cast<sharedmemRadar_st*>(maps[1]);
        sharedmemRadar1 = nullptr; // radar1 is not active
        sharedmemRadar2 = static_cast<sharedmemRadar_st*>(maps[2]);
    }
    ~SharedFiles()
    {
        sharedmem = nullptr;
        sharedmemFd = -1;
        sharedmemRadar0 = sharedmemRadar2 = nullptr;
        munmap(maps[0], SHAREDMEM_FILE_SIZE);
        munmap(maps[1], SHAREDMEM_RADAR_FILE_SIZE);
        munmap(maps[2], SHAREDMEM_RADAR_FILE_SIZE);
        for (int fd : fds)
            close(fd);
    }
};

// Semaphore keys of this test process only; removed at the end.
struct PrivateSemaphores {
    int fft, peak, h;
    PrivateSemaphores()
    {
        const int base = 0x5EC00000 + (getpid() % 1000000) * 4;
        fft = base + 1;
        peak = base + 2;
        h = base + 3;
    }
    ~PrivateSemaphores()
    {
        for (int key : {fft, peak, h}) {
            const int id = semget(key, 1, 0);
            if (id >= 0)
                semctl(id, 0, IPC_RMID);
        }
    }
};

// A stage loop in a forked child; killed and reaped on destruction.
struct Child {
    pid_t pid = -1;
    explicit Child(const std::function<void()>& body)
    {
        pid = fork();
        if (pid == 0) {
            body();
            _exit(1); // the loop returned: it could not run
        }
    }
    ~Child()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

std::string stationConfig(int fftPort, int peakPort)
{
    const std::string radar = R"("active": "1", "brand": "readfile", "sweepsize": "256", "nrofsweeps": "2",
        "henn": "0", "threshold": "30", "minimumheight": "0", "maximumheight": "100", "mountingangle": "0",
        "radaroffset": "0", "radarType": "F", "pipeDiameter": "0")";
    return R"({
  "general": {"speed": "1000"},
  "vintor": {
    "vintor": {"debug": "0", "debugfft": "0", "debugpeak": "0", "peaknoiselevel": "0", "peakblocksize": "0"},
    "publishers": {"fft": ")" + std::to_string(fftPort) + R"(", "peak": ")" + std::to_string(peakPort) + R"("}
  },
  "radar": {)" + radar + R"(},
  "radar2": {"active": "0"},
  "radar3": {)" + radar + R"(},
  "read-only": {}
})";
}

// Replay record of two 256-sample sweeps with tones at bins `up` and `down`.
void toneRecord(radar_st& r, const char* section, long long time, int up, int down)
{
    std::memset(&r, 0, sizeof r);
    const std::string text = std::to_string(time);
    std::memcpy(r.time, text.c_str(), text.size() + 1);
    std::memcpy(r.section, section, std::strlen(section) + 1);
    r.brand = READFILE;
    r.nrOfSweeps = 2;
    r.length = 256;
    for (int i = 0; i < 256; ++i) {
        r.data.rf[0].data[i] = static_cast<int16_t>(std::lround(10000 * std::sin(2 * M_PI * up * i / 256)));
        r.data.rf[1].data[i] = static_cast<int16_t>(std::lround(10000 * std::sin(2 * M_PI * down * i / 256)));
    }
}

struct StageRig {
    SharedFiles files;
    PrivateSemaphores keys;
    int fftPort = freePort();
    int peakPort = freePort();
    std::unique_ptr<Process> service;
    ConfigFile cf{0, 0};
    std::unique_ptr<SharedMem> sm;

    StageRig()
    {
        writeFile(files.dir.file("station.json"), stationConfig(fftPort, peakPort));
        ConfigServiceOptions o;
        o.config = files.dir.file("station.json");
        // Another test may take a port between the probe and the bind: try afresh.
        for (int attempt = 0; attempt < 3 && !service; attempt++) {
            o.repPort = freePort();
            o.pubPort = freePort();
            service = startConfigService(o);
        }
        EXPECT_TRUE(service);
        cf = ConfigFile(o.repPort, o.pubPort);
        EXPECT_EQ(cf.readConfig(), 0);
        sm.reset(new SharedMem(&cf));
    }
    std::unique_ptr<Child> startFft()
    {
        return std::unique_ptr<Child>(new Child([this] {
            std::unique_ptr<FFTClass> fft(new FFTClass(&cf));
            fft->semFftKey = keys.fft;
            fft->semPeakKey = keys.peak;
            fft->generateFFT();
        }));
    }
    std::unique_ptr<Child> startPeak()
    {
        return std::unique_ptr<Child>(new Child([this] {
            PeakClass peak(&cf);
            peak.semPeakKey = keys.peak;
            peak.semHKey = keys.h;
            peak.generatePeak();
        }));
    }
    void postFft() { setSemaphore(getSemaphore(keys.fft), 1); }
    std::string slot(const char* ring, int index, size_t size)
    {
        std::string bytes(size, '\0');
        unsigned int len = 0;
        sm->get(ring, &bytes[0], &len, index);
        EXPECT_EQ(len, size);
        return bytes;
    }
};

TEST(SpectrumStages, RecordsOfEveryListedRadarBecomeSpectraAndPeaks)
{
    StageRig rig;
    // The radar manager's list, with an empty and an unknown name among the rings.
    char list[] = "radar0,,radar9,radar2";
    rig.sm->set("radars", list, sizeof list - 1);
    auto fftChild = rig.startFft();
    auto peakChild = rig.startPeak();

    Subscriber fftFeed("tcp://127.0.0.1:" + std::to_string(rig.fftPort));
    Subscriber peakFeed("tcp://127.0.0.1:" + std::to_string(rig.peakPort));
    // Until both subscriptions have joined, keep feeding records.
    long long t = 1765250000000;
    radar_st record;
    auto feedOne = [&] {
        toneRecord(record, "radar0", ++t, 20, 30);
        rig.sm->add("radar0", &record, sizeof record);
        rig.postFft();
    };
    std::string m;
    ASSERT_TRUE(fftFeed.receiveAfter(feedOne, &m, milliseconds(10000)));
    ASSERT_TRUE(peakFeed.receiveAfter(feedOne, &m, milliseconds(10000)));
    // Let the stages settle, then forget what arrived so far.
    fftFeed.collect(1000, milliseconds(300));
    peakFeed.collect(1000, milliseconds(300));
    const int firstF = rig.sm->getIndex("f"), firstP = rig.sm->getIndex("p");
    const int counted = sharedmem->status.fft;

    // Three records on radar0 and two on radar2, then one post.
    for (int i = 0; i < 3; ++i) {
        toneRecord(record, "radar0", 1765260000000 + i, 20, 30);
        rig.sm->add("radar0", &record, sizeof record);
    }
    for (int i = 0; i < 2; ++i) {
        toneRecord(record, "radar2", 1765270000000 + i, 40, 50);
        rig.sm->add("radar2", &record, sizeof record);
    }
    rig.postFft();

    auto spectra = fftFeed.collect(5, milliseconds(5000));
    auto peaks = peakFeed.collect(5, milliseconds(5000));
    ASSERT_EQ(spectra.size(), 5u);
    ASSERT_EQ(peaks.size(), 5u);
    const struct { const char* section; long long time; int up, down; } expect[] = {
        {"radar0", 1765260000000, 20, 30}, {"radar0", 1765260000001, 20, 30}, {"radar0", 1765260000002, 20, 30},
        {"radar2", 1765270000000, 40, 50}, {"radar2", 1765270000001, 40, 50},
    };
    for (int i = 0; i < 5; ++i) {
        const int f = (firstF + 1 + i) % MEMCACHE_MAX_INDEX, p = (firstP + 1 + i) % MEMCACHE_MAX_INDEX;
        // The feed carries the very bytes of the ring slot.
        ASSERT_EQ(spectra[i], rig.slot("f", f, sizeof(fft_st))) << i;
        ASSERT_EQ(peaks[i], rig.slot("p", p, sizeof(peak_st))) << i;
        fft_st spectrum;
        peak_st found;
        std::memcpy(&spectrum, spectra[i].data(), sizeof spectrum);
        std::memcpy(&found, peaks[i].data(), sizeof found);
        EXPECT_STREQ(spectrum.section, expect[i].section) << i;
        EXPECT_EQ(std::stoll(spectrum.time), expect[i].time) << i;
        EXPECT_EQ(spectrum.length, 256);
        EXPECT_EQ(spectrum.nrOfSweeps, 2);
        // A full-scale sine of amplitude 10000: mean square 5e7, power (10000/2)^2 at its bin.
        EXPECT_NEAR(spectrum.energy[0], 5e7, 5e7 * 1e-3);
        EXPECT_NEAR(spectrum.data[0][expect[i].up], 2.5e7, 2.5e7 * 5e-3) << i;
        EXPECT_EQ(found.fft_key, f);
        EXPECT_STREQ(found.section, expect[i].section);
        ASSERT_EQ(found.nrOfPeaks[0], 1) << i;
        ASSERT_EQ(found.nrOfPeaks[1], 1) << i;
        EXPECT_EQ(found.data[0][0].bin, expect[i].up);
        EXPECT_EQ(found.data[1][0].bin, expect[i].down);
        EXPECT_EQ(found.minimumbin, 0);
        EXPECT_EQ(found.maximumbin, 171); // ceil(100 m / 0.585357 m)
        EXPECT_EQ(found.energy[1], spectrum.energy[1]);
    }
    EXPECT_EQ(sharedmem->status.fft, counted + 5);
    // The radar manager's list is left as it was; the height stage has been posted.
    char text[RADARS_TEXT_SIZE + 1] = {};
    unsigned int len = 0;
    rig.sm->get("radars", text, &len, 0);
    EXPECT_STREQ(text, "radar0,,radar9,radar2");
    for (int i = 0; i < 50 && getSemaphoreValue(getSemaphore(rig.keys.h)) != 1; ++i)
        usleep(20000);
    EXPECT_EQ(getSemaphoreValue(getSemaphore(rig.keys.h)), 1);
}

TEST(SpectrumStages, EmptyRadarListMeansRadar0AndBadRecordsPassThrough)
{
    StageRig rig;
    auto fftChild = rig.startFft();
    Subscriber fftFeed("tcp://127.0.0.1:" + std::to_string(rig.fftPort));
    radar_st record;
    long long t = 1765250000000;
    std::string m;
    ASSERT_TRUE(fftFeed.receiveAfter(
        [&] {
            toneRecord(record, "radar0", ++t, 10, 10);
            rig.sm->add("radar0", &record, sizeof record);
            rig.postFft();
        },
        &m, milliseconds(10000)));
    char text[RADARS_TEXT_SIZE + 1] = {};
    unsigned int len = 0;
    rig.sm->get("radars", text, &len, 0);
    EXPECT_STREQ(text, "radar0");
    fftFeed.collect(1000, milliseconds(300));

    // A failed measurement and records whose counts exceed what they can hold:
    // each is still stored and sent, and the stage keeps running.
    const struct { int sweeps, length, nan; } bad[] = {{0, 256, 1}, {9, 256, 0}, {2, 100000, 0}, {2, 0, 0}, {-3, -3, 0}};
    for (auto b : bad) {
        toneRecord(record, "radar0", ++t, 10, 10);
        record.nrOfSweeps = b.sweeps;
        record.length = b.length;
        record.nan = b.nan;
        rig.sm->add("radar0", &record, sizeof record);
    }
    rig.postFft();
    auto spectra = fftFeed.collect(5, milliseconds(5000));
    ASSERT_EQ(spectra.size(), 5u);
    const int expectSweeps[] = {0, 2, 2, 2, 0};
    const int expectLength[] = {256, 256, 300, 0, 0};
    for (int i = 0; i < 5; ++i) {
        fft_st s;
        std::memcpy(&s, spectra[i].data(), sizeof s);
        EXPECT_EQ(s.nrOfSweeps, expectSweeps[i]) << i;
        EXPECT_EQ(s.nan, bad[i].nan) << i;
        EXPECT_EQ(s.length, expectLength[i]) << i; // the failed measurement keeps the previous length
    }
    ASSERT_EQ(waitpid(fftChild->pid, nullptr, WNOHANG), 0) << "the stage ended";
}

} // namespace
