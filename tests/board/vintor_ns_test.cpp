// The station's main road on this machine: the board simulator feeds
// tarnix-pic32, whose records vintor's radar process (brand "tarnix") stores in
// ring radar0. Fixed ports, files and keys, so it runs in the private namespace.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <thread>

#include "boardtest.h"
#include "records.h"

namespace {

using boardtest::Sim;
using testsupport::milliseconds;
using testsupport::Process;
using testsupport::TempDir;

std::string config()
{
    return std::string(R"({
  "general": {"speed": "200"},
  "vintor": {"vintor": {"debug": "0", "timeout": "5", "debugradars": "0"}, "module": {"radars": "1"}},
  "radar": {"active": "1", "brand": "tarnix", "sweepsize": "512", "nrofsweeps": "2", "scanspeed": "200",
            "timeoffset": "0", "debugradar": "0"},
  "radar2": {"active": "0"},
  "radar3": {"active": "0"},
  "tarnix-pic32": {"publishers": {"rawdata-pub": "5020"}, "detectUSBDevice": ")") +
           FIND_USB_SCRIPT + R"("}
})";
}

int index0(const sharedmem_st* m) { return __atomic_load_n(&m->key.radar0, __ATOMIC_ACQUIRE); }

TEST(BoardMainRoad, VintorStoresTheBoardsSweepPairsInItsRadarRing)
{
    TempDir d;
    auto service = testsupport::startConfigServiceWith(d, config());
    ASSERT_TRUE(service);
    Sim sim(d, {"-p", "200"}, "/tmp/board-sim.tty");
    ASSERT_TRUE(sim.ready);
    testsupport::Subscriber feed("tcp://127.0.0.1:5020");
    Process reader(TARNIX_BIN, {"-q"});
    Process vintor(VINTOR_BIN, {"5010", "5011"}, {true, "", {}});

    const sharedmem_st* shm = testsupport::mapSharedReadOnly<sharedmem_st>("/tmp/sharedmem");
    const sharedmemRadar_st* radar0 = testsupport::mapSharedReadOnly<sharedmemRadar_st>("/tmp/sharedmemRadar0");
    ASSERT_TRUE(shm && radar0) << vintor.output();

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

} // namespace
