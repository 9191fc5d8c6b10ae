// The board reader's decisions without a port: judging a tick, the rate word,
// pairing sweeps, and reading the settings from a configuration reply.
#include <gtest/gtest.h>

#include <json/json.h>

#include "boardlink.h"
#include "clocklock.h"
#include "pairing.h"
#include "settings.h"

namespace {

TEST(ClockLock, TickIsJudgedByItsPhaseAroundTheOffset)
{
    const int64_t d = 1003;
    const struct {
        int speed;
        int64_t offset;
        double phase;
        int64_t diff;
        double value;
    } cases[] = {
        {1000, 0, 2, d, d + 1},      // late
        {1000, 0, 900, d, d - 1},    // early for the next period
        {1000, 0, 0, d, d},
        {1000, 0, 1, d, d},
        {1000, 0, 499, d, d + 1},    // before the middle: still late
        {1000, 500, 900, d, d + 1},  // a large offset is never early for the next period
        {1000, 500, 100, d, d - 1},
        {1000, 500, 499, d, d},
        {1000, 500, 501, d, d},
        {1000, 0, 0, 30000, 10000},  // a tick after a long gap counts ten periods at most
        {1000, 0, 0, -30000, -10000},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(clockLockValue(c.diff, c.phase, c.speed, c.offset), c.value)
            << "speed " << c.speed << " offset " << c.offset << " phase " << c.phase;
}

TEST(ClockLock, RateWordTakesTheTruncatedSumWithinSixteenBits)
{
    const struct {
        uint16_t rate;
        double pidinc;
        uint16_t next;
    } cases[] = {
        {8, -0.5, 7}, {8, 0.9, 8}, {8, 1.0, 9}, {3, -10, 0}, {8, -8.0, 0}, {0, 10, 10},
        {65530, 10, 65535}, {65535, 0.5, 65535},
    };
    for (const auto& c : cases) EXPECT_EQ(nextRateWord(c.rate, c.pidinc), c.next) << c.rate << " + " << c.pidinc;
}

beagle_raw_data_t sweep(uint32_t id, bool first)
{
    beagle_raw_data_t f{};
    f.version = FRAME_VERSION;
    f.id = id;
    f.gain = first ? 0x0100 | 0x0003 : 0x0003;
    f.data[0] = static_cast<uint16_t>(id);
    return f;
}

TEST(SweepPairing, OnlyRealPairsArePublished)
{
    // 'F' first sweep, 'S' second sweep, 'R' port reopened. Expected: the published
    // pairs as ids of first and second sweep; the time is the first sweep's.
    const struct {
        const char* name;
        const char* events;
        std::vector<std::pair<uint32_t, uint32_t>> pairs;
    } cases[] = {
        {"first then second", "FS", {{1, 2}}},
        {"a newer first sweep replaces the older", "FFS", {{2, 3}}},
        {"second without first", "S", {}},
        {"two seconds after one first", "FSS", {{1, 2}}},
        {"pairs in a row", "FSFS", {{1, 2}, {3, 4}}},
        {"no pair across a reopening", "FRSFS", {{4, 5}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tarnix_st rec{};
        SweepPairer pairer(&rec);
        std::vector<std::pair<uint32_t, uint32_t>> published;
        uint32_t id = 0;
        for (const char* e = c.events; *e; e++) {
            if (*e == 'R') {
                pairer.reset();
                id++;
                continue;
            }
            ++id;
            auto out = pairer.add(sweep(id, *e == 'F'), 1000 + id, 512);
            EXPECT_EQ(out == SweepPairer::FIRST_STORED, *e == 'F');
            if (out == SweepPairer::PAIR_READY) {
                published.emplace_back(rec.tarnix_data[0].id, rec.tarnix_data[1].id);
                EXPECT_EQ(rec.time, int64_t(1000 + rec.tarnix_data[0].id));
                EXPECT_EQ(rec.sweepsize, 512);
                EXPECT_EQ(rec.tarnix_data[0].data[0], rec.tarnix_data[0].id);
                EXPECT_EQ(rec.quit, 0);
            }
        }
        EXPECT_EQ(published, c.pairs);
    }
}

Json::Value parse(const std::string& text)
{
    Json::Value v;
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    std::string errs;
    EXPECT_TRUE(r->parse(text.data(), text.data() + text.size(), &v, &errs)) << text;
    return v;
}

TEST(ReaderSettings, ReadFromTheReplyWithTheirDefaults)
{
    const struct {
        const char* name;
        const char* reply;
        int speed;
        int64_t offset;
        int sweepsize, port;
        const char* script;
    } cases[] = {
        {"all given",
         R"({"success":{"general":{"speed":"1000"},"radar":{"timeoffset":"250","sweepsize":"512"},
             "tarnix-pic32":{"publishers":{"rawdata-pub":"5021"},"detectUSBDevice":"/opt/find-usb-dev.sh"}}})",
         1000, 250, 512, 5021, "/opt/find-usb-dev.sh"},
        {"keys missing in present sections", R"({"success":{"general":{},"radar":{},"tarnix-pic32":{"publishers":{}}}})", 0, 0, 256,
         5020, ""},
        {"sections missing", R"({"success":{}})", 0, 0, 0, 5020, ""},
        {"publishers not an object", R"({"success":{"tarnix-pic32":{"publishers":"5021"}}})", 0, 0, 0, 5020, ""},
        {"speed not a number", R"({"success":{"general":{"speed":"abc"}}})", 0, 0, 0, 5020, ""},
        {"numbers instead of texts", R"({"success":{"general":{"speed":200},"radar":{"timeoffset":-5,"sweepsize":1024}}})", 200, -5,
         1024, 5020, ""},
        {"odd types read as nothing", R"({"success":{"general":{"speed":{"x":1}},"radar":[1,2],"tarnix-pic32":{"detectUSBDevice":[]}}})",
         0, 0, 0, 5020, ""},
        {"no success object", R"(["success"])", 0, 0, 0, 5020, ""},
        // A port is digits only: strtol would read 5097 and 1.
        {"port with a tail", R"({"success":{"tarnix-pic32":{"publishers":{"rawdata-pub":"5097abc"}}}})", 0, 0, 0, 0, ""},
        {"port with an exponent", R"({"success":{"tarnix-pic32":{"publishers":{"rawdata-pub":"1e12"}}}})", 0, 0, 0, 0, ""},
        {"port as a number", R"({"success":{"tarnix-pic32":{"publishers":{"rawdata-pub":5097}}}})", 0, 0, 0, 5097, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TarnixSettings s = readSettings(parse(c.reply));
        EXPECT_EQ(s.speed, c.speed);
        EXPECT_EQ(s.offset, c.offset);
        EXPECT_EQ(s.sweepsize, c.sweepsize);
        EXPECT_EQ(s.rawdata_pub, c.port);
        EXPECT_EQ(s.script, c.script);
    }
    EXPECT_EQ(readSettings(parse(R"({"success":{"general":{"speed":"abc"}}})")).speedText, "abc");
}

} // namespace
