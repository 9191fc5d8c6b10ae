// The acquisition loop as a forked radar process over real rings in mapped
// files, real semaphores (private keys) and real replay front-ends.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "acquisition_support.h"
#include "readudp.h"
#include "timer.h"

using namespace testsupport;
using acq::Child;
using acq::eventually;
using acq::PrivateKeys;
using acq::SharedFiles;
using acq::ThreadPeer;
using std::chrono::milliseconds;

namespace {

ConfigFile* radarConfig(const std::string& section, const std::string& brand) {
    auto* cf = new ConfigFile();
    cf->sectionList_[section] = "1";
    cf->setValue("vintor", "timeout", std::string("5"));
    cf->setValue(section, "brand", brand);
    cf->setValue(section, "sweepsize", std::string("256"));
    cf->setValue(section, "nrofsweeps", std::string("2"));
    return cf;
}

// Radar0 as a network replay front-end listening on `port`.
ConfigFile* udpRadarConfig(int port) {
    ConfigFile* cf = radarConfig("radar0", "readudp");
    cf->setValue("radar0", "portnumber", std::to_string(port));
    return cf;
}

int ringIndex(int radar) {
    const int* idx[3] = {&sharedmem->key.radar0, &sharedmem->key.radar1, &sharedmem->key.radar2};
    return __atomic_load_n(idx[radar], __ATOMIC_ACQUIRE);
}

const radar_st& slot(sharedmemRadar_st* block, int n) { return block->radar[n % MEMCACHE_MAX_INDEX]; }

std::string line(const std::string& time, int nr, int a, int b) {
    return "raw=rec;" + time + ";" + std::to_string(nr) + ";" + std::to_string(a) + "," + std::to_string(b) +
           "\n";
}

bool sectionIs(const radar_st& r, const char* name) {
    char want[10] = {};
    std::strncpy(want, name, sizeof want);
    return std::memcmp(r.section, want, sizeof want) == 0;
}

}  // namespace

TEST(RadarLoop, StoresReplayedPairsAndFailedOnesAsRecordsAndWakesTheFft) {
    SharedFiles files;
    PrivateKeys keys;
    int port = freePort();
    std::unique_ptr<ConfigFile> cf(udpRadarConfig(port));
    cf->setValue("radar0", "comport", std::string("/dev/ttyS1"));
    semctl(keys.id(keys.settings.fftKey), 0, SETVAL, 0);
    const double before = getTime();
    Child radar([&] { return RadarClass(cf.get(), "radar0", keys.settings).process(); });
    ThreadPeer peer(port, [](int fd, int r) {
        switch (r) {
        case 0: acq::sendText(fd, line("1700000000123", 1, 10, -20) + line("1700000000129", 2, 30, -40)); break;
        case 1: acq::sendText(fd, line("999", 3, 50, -60) + line("1000", 4, 70, -80)); break;
        case 2: acq::sendText(fd, "no sweep here\n" + line("998", 8, 0, 0)); break;  // and its down sweep
        case 3: acq::sendText(fd, line("1001", 5, 1, 2) + line("1002", 6, 3, 4)); break;
        default: break;  // no answer: the radar waits
        }
        return true;
    });
    ASSERT_TRUE(eventually([] { return ringIndex(0) == 4; }, milliseconds(5000))) << ringIndex(0);
    const double after = getTime();
    sharedmemRadar_st* b = sharedmemRadar0;

    const radar_st& first = slot(b, 1);
    EXPECT_STREQ(first.time, "1700000000123");
    EXPECT_TRUE(sectionIs(first, "radar0"));
    EXPECT_EQ(first.brand, READUDP);
    EXPECT_EQ(first.nrOfSweeps, 2);
    EXPECT_EQ(first.nan, 0);
    EXPECT_EQ(first.length, 256);
    EXPECT_STREQ(first.data.rf[0].sensorname, "rec");
    EXPECT_EQ(first.data.rf[0].sweepnr, 1);
    EXPECT_EQ(first.data.rf[0].data[0], 10);
    EXPECT_EQ(first.data.rf[0].data[1], -20);
    EXPECT_STREQ(first.data.rf[1].time, "1700000000129");
    EXPECT_EQ(first.data.rf[1].data[1], -40);

    // A shorter time after a longer one keeps nothing of the longer one.
    const char shortTime[TIMESTRSIZE] = "999";
    EXPECT_EQ(std::memcmp(slot(b, 2).time, shortTime, TIMESTRSIZE), 0);
    EXPECT_EQ(slot(b, 2).data.rf[1].data[0], 70);

    const radar_st& failed = slot(b, 3);
    EXPECT_EQ(failed.nan, 1);
    EXPECT_EQ(failed.nrOfSweeps, 0);
    EXPECT_EQ(failed.length, 0);
    EXPECT_TRUE(sectionIs(failed, "radar0"));
    double t = std::stod(failed.time);
    EXPECT_GE(t, before - 1);
    EXPECT_LE(t, after + 1);

    EXPECT_STREQ(slot(b, 4).time, "1001");
    EXPECT_EQ(slot(b, 4).nan, 0);

    EXPECT_EQ(keys.fftValue(), 1);
    EXPECT_EQ(b->semafore, keys.id(keys.settings.radarKeys[0]));
    EXPECT_EQ(sharedmem->status.radarCom, 2);
    EXPECT_EQ(sharedmem->key.radars[0], '\0') << "the radars list is the manager's";
    EXPECT_EQ(ringIndex(1), 0);

    std::string out = radar.output();
    for (std::string want : {std::string("\nBrand(4):readudp radar0 sweepsize:256 nrofsweeps:2 scanspeed:0"),
                             std::string("\nradar0 Waiting for the radar..."),
                             "\nsharedmemRadar->semafore=" + std::to_string(b->semafore),
                             "\nsem_fft=" + std::to_string(keys.id(keys.settings.fftKey))}) {
        EXPECT_NE(out.find(want), std::string::npos) << want << " in " << out;
    }
}

TEST(RadarLoop, SixtyFailedSweepsAreToleratedTheSixtyFirstEndsTheLoopUnposted) {
    SharedFiles files;
    PrivateKeys keys;
    int port = freePort();
    std::unique_ptr<ConfigFile> cf(udpRadarConfig(port));
    const int fftKey = keys.settings.fftKey;
    Child radar([&] { return RadarClass(cf.get(), "radar0", keys.settings).process(); });
    ThreadPeer peer(port, [fftKey](int fd, int r) {
        if (r == 60) {
            acq::sendText(fd, line("5000", 1, 1, 1) + line("5001", 2, 2, 2));
            return true;
        }
        // Before the 61st failure in a row: the stage must not post for it.
        if (r == 121) semctl(semget(fftKey, 1, 0), 0, SETVAL, 0);
        acq::sendText(fd, "broken\n" + line("5002", 2, 2, 2));
        return true;
    });
    EXPECT_EQ(radar.wait(milliseconds(10000)), 1);
    // 60 failures, one good pair, 61 failures: every record was stored, and the
    // good pair started the count again (else the loop ends at record 62).
    EXPECT_EQ(ringIndex(0), 122 % MEMCACHE_MAX_INDEX);
    EXPECT_EQ(slot(sharedmemRadar0, 122).nan, 1);
    EXPECT_EQ(keys.fftValue(), 0);
}

TEST(RadarLoop, FileReplayIsPacedStoresNoRepeatsAndUsesItsOwnFileName) {
    SharedFiles files;
    PrivateKeys keys;
    TempDir dir;
    writeFile(dir.file("one.txt"), line("1700000000000", 1, 5, 6) + line("1700000000006", 2, 7, 8));
    // Opened as a replay file, a FIFO would block the radar for ever.
    ASSERT_EQ(mkfifo(dir.file("serial").c_str(), 0600), 0);

    // radar1: one pair, then the end of the file; and the serial port setting
    // is never taken as the file name.
    std::unique_ptr<ConfigFile> cf(radarConfig("radar1", "readfile"));
    cf->setValue("radar1", "filename", dir.file("one.txt"));
    cf->setValue("radar1", "comport", dir.file("serial"));
    cf->setValue("radar1", "scanspeed", std::string("100"));
    {
        Child radar([&] { return RadarClass(cf.get(), "radar1", keys.settings).process(); });
        ASSERT_TRUE(eventually([] { return ringIndex(1) >= 2; }, milliseconds(5000)));
        EXPECT_EQ(slot(sharedmemRadar1, 1).nan, 0);
        EXPECT_STREQ(slot(sharedmemRadar1, 1).time, "1700000000000");
        EXPECT_EQ(slot(sharedmemRadar1, 2).nan, 1) << "a failed read is not a copy of the last sweep";
        EXPECT_EQ(slot(sharedmemRadar1, 2).length, 0);
        EXPECT_EQ(sharedmemRadar1->semafore, keys.id(keys.settings.radarKeys[1]));
    }
    {
        std::unique_ptr<ConfigFile> noName(radarConfig("radar2", "readfile"));
        noName->setValue("radar2", "comport", dir.file("serial"));
        noName->setValue("radar2", "scanspeed", std::string("100"));
        Child radar([&] { return RadarClass(noName.get(), "radar2", keys.settings).process(); });
        ASSERT_TRUE(eventually([] { return ringIndex(2) >= 1; }, milliseconds(5000)));
        EXPECT_EQ(slot(sharedmemRadar2, 1).nan, 1);
    }

    // The bundled recording at scanspeed 100: records at the paced rate, each
    // with the recording's own time.
    std::unique_ptr<ConfigFile> paced(radarConfig("radar0", "readfile"));
    paced->setValue("radar0", "filename", sourcePath("data/recording.txt"));
    paced->setValue("radar0", "scanspeed", std::string("100"));
    paced->setValue("radar0", "timeoffset", std::string("20"));
    Child radar([&] { return RadarClass(paced.get(), "radar0", keys.settings).process(); });
    ASSERT_TRUE(eventually([] { return ringIndex(0) >= 1; }, milliseconds(5000)));
    const double start = getTime();
    usleep(3000000);
    const int stored = ringIndex(0) - 1;
    const double seconds = (getTime() - start) / 1000.0;
    EXPECT_GE(stored, int(seconds * 10 * 0.6)) << stored << " in " << seconds << " s";
    EXPECT_LE(stored, int(seconds * 10 * 1.2) + 1) << stored << " in " << seconds << " s";
    // Every stored record holds its pair of the recording, byte for byte.
    std::vector<std::string> lines = acq::recordingLines();
    for (int n = 1; n <= stored && n < MEMCACHE_MAX_INDEX; ++n) {
        const radar_st& r = slot(sharedmemRadar0, n);
        acq::Sweep up = acq::parseIndependently(lines[2 * (n - 1)]);
        EXPECT_EQ(r.time, up.time) << n;
        EXPECT_EQ(r.nan, 0) << n;
        EXPECT_EQ(r.length, 256) << n;
        acq::expectEntry(r.data.rf[0], up, "up " + std::to_string(n));
        acq::expectEntry(r.data.rf[1], acq::parseIndependently(lines[2 * (n - 1) + 1]), "down " + std::to_string(n));
    }
}

TEST(RadarLoop, MadeUpSweepsNeedNoFrontEndAndWakeNobody) {
    SharedFiles files;
    PrivateKeys keys;
    std::unique_ptr<ConfigFile> cf(radarConfig("radar0", "whatever"));
    cf->setValue("radar0", "debugradarfake", std::string("1"));
    cf->setValue("radar0", "scanspeed", std::string("20"));
    semctl(keys.id(keys.settings.fftKey), 0, SETVAL, 0);
    sharedmem->status.radarCom = 7;
    Child radar([&] { return RadarClass(cf.get(), "radar0", keys.settings).process(); });
    ASSERT_TRUE(eventually([] { return ringIndex(0) >= 3; }, milliseconds(5000)));
    const radar_st& r = slot(sharedmemRadar0, 2);
    EXPECT_EQ(r.length, 1024);
    EXPECT_EQ(r.nan, 0);
    EXPECT_EQ(static_cast<unsigned char>(r.data.com[256]), 1);
    EXPECT_EQ(keys.fftValue(), 0);
    EXPECT_EQ(sharedmem->status.radarCom, 0);
    EXPECT_EQ(sharedmemRadar0->semafore, 0);
    EXPECT_NE(radar.output().find("\nBrand(0):enraf radar0"), std::string::npos) << radar.output();
}

TEST(RadarLoop, ARadarWithoutItsSharedFileGivesUpInsteadOfWritingThroughNothing) {
    SharedFiles files(true, true, false);
    PrivateKeys keys;
    std::unique_ptr<ConfigFile> cf(radarConfig("radar2", "readfile"));
    Child radar([&] { return RadarClass(cf.get(), "radar2", keys.settings).process(); });
    EXPECT_EQ(radar.wait(milliseconds(5000)), 1);
    EXPECT_NE(radar.output().find("radar2: its shared file is not mapped"), std::string::npos) << radar.output();
}

TEST(RadarLoop, AFileReplayWithoutScanspeedRunsUnpacedAndGivesUpAtItsEnd) {
    SharedFiles files;
    PrivateKeys keys;
    std::unique_ptr<ConfigFile> cf(radarConfig("radar0", "readfile"));
    cf->setValue("radar0", "filename", sourcePath("data/recording.txt"));
    Child radar([&] { return RadarClass(cf.get(), "radar0", keys.settings).process(); });
    // 300 pairs, then 61 failed reads in a row, all unpaced: no division by a
    // zero period, and done in well under the 300 * 10 ms a floor pause would take.
    EXPECT_EQ(radar.wait(milliseconds(2500)), 1);
    EXPECT_EQ(ringIndex(0), (300 + 61) % MEMCACHE_MAX_INDEX);
    EXPECT_NE(radar.output().find("radar0 scanspeed:0 is not a period: sweeps are not paced"), std::string::npos)
        << radar.output();
}

namespace {

// Lines of the output that begin with `label` (after the line ends before them).
std::vector<std::string> linesOf(const std::string& out, const std::string& label) {
    std::vector<std::string> lines;
    for (size_t at = out.find(label); at != std::string::npos; at = out.find(label, at + 1))
        lines.push_back(out.substr(at, out.find('\n', at + label.size()) - at));
    return lines;
}

}  // namespace

// A replayed pair, a broken one, two more pairs, then the end of the file:
// the debug lines show the times taken in each cycle (a time not taken counts
// as 0, so a failed sweep shows -t3 and t6 whole) and the interval between
// sweeps before the phase nudge.
TEST(RadarLoop, DebugLinesShowTheTimesAndTheIntervalAsTheLoopTakesThem) {
    SharedFiles files;
    PrivateKeys keys;
    TempDir dir;
    writeFile(dir.file("rec.txt"), line("1000", 1, 5, 6) + line("1006", 2, 7, 8) + "broken\nbroken\n" +
                                       line("2000", 3, 5, 6) + line("2006", 4, 7, 8) + line("3000", 5, 5, 6) +
                                       line("3006", 6, 7, 8));
    const struct {
        int level;
        bool totals;  // "radar total" lines
    } levels[] = {{1, false}, {2, true}};
    for (const auto& level : levels) {
        SCOPED_TRACE("debugradar " + std::to_string(level.level));
        std::unique_ptr<ConfigFile> cf(radarConfig("radar0", "readfile"));
        cf->setValue("radar0", "filename", dir.file("rec.txt"));
        cf->setValue("radar0", "scanspeed", std::string("40"));
        cf->setValue("radar0", "timeoffset", std::string("0"));
        cf->setValue("radar0", "debugradar", std::to_string(level.level));
        Child radar([&] { return RadarClass(cf.get(), "radar0", keys.settings).process(); });
        const std::string diffLabel = "\ntime between sweeps diff:\t";
        ASSERT_TRUE(eventually([&] { return linesOf(radar.output(), diffLabel).size() >= 6; }, milliseconds(20000)))
            << radar.output();
        const std::string out = radar.output();

        // The interval is the measurement time less the previous one, capped at 1000 ms.
        long long previous = 0;
        for (const std::string& l : linesOf(out, diffLabel)) {
            long long diff = 0, mt = 0;
            ASSERT_EQ(std::sscanf(l.c_str(), "\ntime between sweeps diff:\t%lld\ttime: %lld", &diff, &mt), 2) << l;
            EXPECT_EQ(diff, std::min(1000LL, mt - previous)) << l;
            previous = mt;
        }

        // Per cycle, in order: the record time (the file's, or the clock's for a
        // failed sweep) and then, at level 2, the times t2..t7.
        std::vector<bool> failed;
        for (size_t at = out.find(" Send=1"); at != std::string::npos; at = out.find(" Send=1", at + 1)) {
            const size_t begin = out.rfind('\n', at) + 1;
            failed.push_back(std::strtod(out.c_str() + begin, nullptr) > 1e12);
        }
        const std::vector<std::string> totals = linesOf(out, "radar total:");
        if (!level.totals) {
            EXPECT_TRUE(totals.empty()) << out;
            continue;
        }
        ASSERT_GE(failed.size(), 4u) << out;
        EXPECT_EQ(std::vector<bool>(failed.begin(), failed.begin() + 4), std::vector<bool>({false, true, false, false}));
        ASSERT_GE(totals.size(), 4u) << out;
        const struct {
            int field;      // 0 total, 1 t2 .. 6 t7
            int onValid;    // 0: a small time, -1: minus a clock, 1: a whole clock, 2: exactly 0
            int onFailed;
        } fields[] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, -1}, {4, 0, 2}, {5, 0, 1}, {6, 0, 0}};
        for (size_t c = 0; c < 4; ++c) {
            std::vector<double> v(7);
            ASSERT_EQ(std::sscanf(totals[c].c_str(), "radar total:%lf t2:%lf t3:%lf t4:%lf t5:%lf t6:%lf t7:%lf", &v[0],
                                  &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]),
                      7)
                << totals[c];
            for (const auto& f : fields) {
                const double x = v[static_cast<size_t>(f.field)];
                switch (failed[c] ? f.onFailed : f.onValid) {
                case 0: EXPECT_TRUE(x >= 0 && x < 1e9) << totals[c] << " field " << f.field; break;
                case -1: EXPECT_LT(x, -1e12) << totals[c] << " field " << f.field; break;
                case 1: EXPECT_GT(x, 1e12) << totals[c] << " field " << f.field; break;
                default: EXPECT_EQ(x, 0.0) << totals[c] << " field " << f.field; break;
                }
            }
        }
    }
}
