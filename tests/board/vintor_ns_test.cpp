// The station's main road on this machine: the board simulator feeds
// tarnix-pic32, whose records vintor's radar process (brand "tarnix") stores in
// ring radar0. Fixed ports, files and keys, so it runs in the private namespace.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include "boardtest.h"
#include "records.h"

namespace {

using boardtest::Sim;
using testsupport::count;
using testsupport::milliseconds;
using testsupport::Process;
using testsupport::TempDir;

std::string config(const std::string& sweepsize)
{
    return std::string(R"({
  "general": {"speed": "200"},
  "vintor": {"vintor": {"debug": "0", "timeout": "5", "debugradars": "0"}, "module": {"radars": "1"}},
  "radar": {"active": "1", "brand": "tarnix", "sweepsize": ")" + sweepsize + R"(", "nrofsweeps": "2", "scanspeed": "200",
            "timeoffset": "0", "debugradar": "0"},
  "radar2": {"active": "0"},
  "radar3": {"active": "0"},
  "tarnix-pic32": {"publishers": {"rawdata-pub": "5020"}, "detectUSBDevice": ")") +
           FIND_USB_SCRIPT + R"("}
})";
}

int index0(const sharedmem_st* m) { return __atomic_load_n(&m->key.radar0, __ATOMIC_ACQUIRE); }

// The simulator, the board reader and vintor on their fixed ports and files,
// with the radar section's "sweepsize" as given; vintor's shared files mapped.
struct MainRoad {
    explicit MainRoad(const std::string& sweepsize)
        : service(testsupport::startConfigServiceWith(d, config(sweepsize))), sim(d, {"-p", "200"}, "/tmp/board-sim.tty"),
          feed("tcp://127.0.0.1:5020"), reader(TARNIX_BIN, {"-q"}), vintor(VINTOR_BIN, {"5010", "5011"}, {true, "", {}}),
          shm(testsupport::mapSharedReadOnly<sharedmem_st>("/tmp/sharedmem")),
          radar0(testsupport::mapSharedReadOnly<sharedmemRadar_st>("/tmp/sharedmemRadar0"))
    {
    }
    bool up() const { return service && sim.ready && shm && radar0; }

    TempDir d;
    std::unique_ptr<Process> service;
    Sim sim;
    testsupport::Subscriber feed;
    Process reader;
    Process vintor;
    const sharedmem_st* shm;
    const sharedmemRadar_st* radar0;
};

TEST(BoardMainRoad, VintorStoresTheBoardsSweepPairsInItsRadarRing)
{
    MainRoad road("512");
    ASSERT_TRUE(road.up()) << road.vintor.output();
    testsupport::Subscriber& feed = road.feed;
    Process& reader = road.reader;
    Process& vintor = road.vintor;
    const sharedmem_st* shm = road.shm;
    const sharedmemRadar_st* radar0 = road.radar0;

    // Every record published, by its time.
    std::map<int64_t, tarnix_st> published;
    auto take = [&](milliseconds wait) {
        std::string msg;
        while (feed.receive(&msg, wait)) {
            ASSERT_EQ(msg.size(), sizeof(tarnix_st));
            tarnix_st r;
            memcpy(&r, msg.data(), sizeof r);
            published[r.time] = r;
            wait = milliseconds(0);
        }
    };
    for (int i = 0; i < 300 && index0(shm) < 3; ++i) {
        take(milliseconds(50));
        vintor.drain(milliseconds(50));
    }
    reader.drain(milliseconds(10));
    ASSERT_GE(index0(shm), 3) << "published " << published.size() << "\nreader:\n" << reader.output() << "\nvintor:\n" << vintor.output();
    take(milliseconds(300));

    radar_st rec;
    memcpy(&rec, &radar0->radar[index0(shm)], sizeof rec);
    EXPECT_EQ(rec.brand, TARNIX);
    EXPECT_STREQ(rec.section, "radar0");
    EXPECT_EQ(rec.length, 512);
    EXPECT_EQ(rec.nan, 0);
    EXPECT_EQ(rec.nrOfSweeps, 2);
    const int64_t t = strtoll(rec.time, nullptr, 10);
    ASSERT_EQ(published.count(t), 1u) << "ring time " << rec.time << " is a published record's time";
    EXPECT_EQ(memcmp(rec.data.tarnix, published[t].tarnix_data, sizeof rec.data.tarnix), 0);
    EXPECT_TRUE(rec.data.tarnix[0].gain & 0x0100);
    EXPECT_EQ(rec.data.tarnix[1].id, rec.data.tarnix[0].id + 1);
}

// The board sweep holds 1025 samples; a configured size above 1024 would size
// the later stages' bins for samples that are not there (every distance
// halved at 2048): no sweep is taken, and each radar process says why once.
TEST(BoardMainRoad, ASweepSizeAboveTheBoardsLimitFailsEveryMeasurement)
{
    MainRoad road("2048");
    ASSERT_TRUE(road.up()) << road.vintor.output();
    Process& vintor = road.vintor;
    const sharedmem_st* shm = road.shm;

    tarnix_st published;
    ASSERT_TRUE(boardtest::receiveRecord(road.feed, &published, milliseconds(15000)));
    EXPECT_EQ(published.sweepsize, 2048);
    for (int i = 0; i < 300 && index0(shm) < 3; ++i) vintor.drain(milliseconds(50));
    const int stored = index0(shm);
    ASSERT_GE(stored, 3) << vintor.output();
    for (int n = 1; n <= stored; ++n) {
        const radar_st& rec = road.radar0->radar[n];
        EXPECT_EQ(rec.nan, 1) << n;
        EXPECT_EQ(rec.length, 0) << n;
        EXPECT_EQ(rec.nrOfSweeps, 0) << n;
    }
    vintor.drain(milliseconds(200));
    const std::string& out = vintor.output();
    EXPECT_GE(count(out, "Tarnix: sweepsize 2048 above the limit of 1024 samples: no measurement is taken\n"), 1u) << out;
    EXPECT_EQ(count(out, "sweepsize 2048 above the limit"), count(out, "Brand(2):tarnix radar0")) << out;
}

} // namespace
