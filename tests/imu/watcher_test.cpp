// motion-sentinel's core fed with status texts: what it prints, publishes and
// logs, in order.
#include "statuswatcher.h"
#include "statusword.h"

#include <gtest/gtest.h>

namespace {

using Events = std::vector<std::string>;

struct Rule {
    int bit;
    int throttle;
    const char* action;
};

struct Watch {
    Events events;
    std::unique_ptr<StatusWatcher> watcher;

    Watch(std::initializer_list<Rule> rules, bool quiet = false, const std::string& description = "D")
    {
        std::map<int, bitrule_st> map;
        for (int b = 0; b < 32; b++)
            map[b] = bitrule_st{"P", "log", description, 0};
        for (const auto& r : rules) {
            map[r.bit].throttle = r.throttle;
            map[r.bit].action = r.action;
        }
        auto record = [this](const char* kind) {
            return [this, kind](const std::string& text) { events.push_back(kind + text); };
        };
        watcher.reset(new StatusWatcher(map, quiet, {record("print:"), record("alert:"), record("action:"), record("syslog:")}));
    }
    Events feed(std::initializer_list<const char*> messages)
    {
        events.clear();
        for (const char* m : messages)
            watcher->handle(m);
        return events;
    }
};

const std::string W0 = "WARNING, action:'log' :: 0th bit :: P :: D";

TEST(StatusWord, SignedAndUnsignedWritingsKeepTheirBits)
{
    const struct {
        const char* text;
        bool taken;
        uint32_t word;
    } rows[] = {{"0", true, 0}, {"1", true, 1}, {"-1", true, 0xFFFFFFFF}, {"4294967295", true, 0xFFFFFFFF},
                {"2147483648", true, 0x80000000}, {"-2147483648", true, 0x80000000}, {"4294967296", true, 0x7FFFFFFF},
                {"-2147483649", true, 0x80000000}, {"99999999999999999999999", true, 0x7FFFFFFF},
                {" +12 \r\n", true, 12}, {"12,more", true, 12},
                // Not a word: read as 0 it would clear every bit.
                {" 12abc", false, 0}, {"abc", false, 0}, {"", false, 0}, {" ", false, 0}, {"-", false, 0},
                {"7.5", false, 0}, {"0x10", false, 0}, {"1 2", false, 0}};
    for (const auto& r : rows) {
        uint32_t word = 0x5A5A5A5A;
        EXPECT_EQ(statusWordFromText(r.text, &word), r.taken) << r.text;
        EXPECT_EQ(word, r.taken ? r.word : 0x5A5A5A5A) << r.text;
    }
    EXPECT_EQ(statusWordToBits(0x80000001), "10000000000000000000000000000001");
}

TEST(StatusWatcher, ThrottleCountsClearedBitsAndWarnsEveryThrottleTime)
{
    // Throttle 1: every message with the bit clear warns; syslog hears the first only.
    Watch r1({{0, 1, "log"}});
    EXPECT_EQ(r1.feed({"t,0.5,0", "t,0.5,1", "t,0.5,0"}),
              (Events{"print:" + W0, "alert:" + W0, "syslog:" + W0, "print:" + W0, "alert:" + W0}));
    // Throttle 3: cleared in messages 1, 2 and 4; the set bit in 3 does not restart the count.
    Watch r3({{0, 3, "log"}});
    EXPECT_EQ(r3.feed({"t,0,0", "t,0,0", "t,0,1"}), Events{});
    EXPECT_EQ(r3.feed({"t,0,0"}), (Events{"print:" + W0, "alert:" + W0, "syslog:" + W0}));
    EXPECT_EQ(r3.watcher->zeroCount(0), 0);
}

TEST(StatusWatcher, BitsThatNeverWarnAndActionsThatOnlyRestartTheCount)
{
    Watch r({{0, 0, "log"}, {1, -1, "log"}, {2, 256, "log"}, {3, 2, "none"}, {4, 2, ""}, {5, 2, "LOG"}});
    for (int i = 0; i < 300; i++)
        ASSERT_EQ(r.feed({"t,0,0"}), Events{}) << "message " << i;
    EXPECT_EQ(r.watcher->zeroCount(2), 300 % 256) << "an 8-bit count wraps";
    for (int b : {3, 4, 5})
        EXPECT_EQ(r.watcher->zeroCount(b), 0) << "restarted at its throttle";
    for (const char* text : {"0", "-3", "abc", ""})
        EXPECT_EQ(throttleOf(text) > 0, false) << text;
    EXPECT_EQ(throttleOf("99999999999"), 2147483647);
}

TEST(StatusWatcher, RebootPublishesTheAlertThenTheActionWithTheMessageTime)
{
    Watch r({{0, 1, "reboot"}, {5, 1, "log"}});
    const std::string w = "WARNING, action:'reboot' :: 0th bit :: P :: D";
    const std::string w5 = "WARNING, action:'log' :: 5th bit :: P :: D";
    EXPECT_EQ(r.feed({"1700000000000000,0.5,0"}),
              (Events{"print:" + w, "alert:" + w, "action:1700000000000000,reboot", "syslog:" + w, "print:" + w5,
                      "alert:" + w5, "syslog:" + w5}));
}

TEST(StatusWatcher, StatusWordsWithBit31SetOrClear)
{
    Watch r({{31, 1, "log"}});
    EXPECT_EQ(r.feed({"t,0,1"}).size(), 3u) << "only bit 0 set: bit 31 counts";
    for (int b = 1; b < 31; b++)
        EXPECT_EQ(r.watcher->zeroCount(b), 1) << b;
    EXPECT_EQ(r.watcher->zeroCount(0), 0);
    EXPECT_EQ(r.feed({"t,0,4294967295", "t,0,-1", "t,0,2147483648"}), Events{});
    EXPECT_EQ(r.feed({"t,0,2147483647"}), (Events{"print:WARNING, action:'log' :: 31th bit :: P :: D",
                                                  "alert:WARNING, action:'log' :: 31th bit :: P :: D"}));
}

TEST(StatusWatcher, QuietPrintsNothingAndOddMessagesAreSkipped)
{
    Watch quiet({{1, 1, "log"}}, true);
    const std::string w1 = "WARNING, action:'log' :: 1th bit :: P :: D";
    EXPECT_EQ(quiet.feed({"t,0,0", "t,0", "", "t,0,abc", "t,0,", "t,0.5,12abc", "t,0,1,,x"}),
              (Events{"alert:" + w1, "syslog:" + w1, "alert:" + w1}));
    Watch loud({{1, 1, "log"}});
    EXPECT_EQ(loud.feed({"t,0", "t,0,abc"}), (Events{"print:Status message without a status word: t,0",
                                                      "print:Status message whose status word is not a number: t,0,abc"}));
    EXPECT_EQ(loud.watcher->zeroCount(1), 0);

    const std::string longDescription(300, 'd');
    Watch longText({{0, 1, "log"}}, true, longDescription);
    EXPECT_EQ(longText.feed({"t,0,0"}).front(), "alert:WARNING, action:'log' :: 0th bit :: P :: " + longDescription);
}

} // namespace
