// The texts the relay services read: configuration replies, GPS heading
// messages, IMU lines. Expected values come from the worked examples of the
// heading conversion ((90 - h) - angle, brought into [0, 360)).
#include <gtest/gtest.h>

#include "feedbridge.h"
#include "heading.h"
#include "headingadjust.h"
#include "relaycore.h"
#include "unitrelay.h"

#include <string>

using namespace std::string_literals;
#include <vector>

namespace {

Json::Value parse(const std::string& text)
{
    Json::Value v;
    std::istringstream in(text);
    std::string errors;
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &v, &errors)) << text;
    return v;
}

TEST(RelayConfig, ValuesByPathTreatNonObjectLevelsAsMissing)
{
    Json::Value r = parse(R"({"success":{"a":{"subscribers":"abc","publishers":5,"n":7,"o":{"x":"y"},"z":null}}})");
    struct Case {
        std::vector<std::string> path;
        std::string expected;
    } cases[] = {
        {{"success", "a", "subscribers", "x"}, "default"}, // a text level
        {{"success", "a", "publishers", "x"}, "default"},  // a number level
        {{"success", "a", "n"}, "7"},                      // a number has its text
        {{"success", "a", "o"}, "default"},                // an object has none
        {{"success", "a", "z"}, "default"},
        {{"success", "b", "c"}, "default"},
        {{"success", "a", "o", "x"}, "y"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(relay::text(r, c.path, "default"), c.expected) << c.path.back();
    }
    EXPECT_FALSE(relay::isObject(r, {"success", "a", "subscribers"}));
    EXPECT_EQ(relay::requestText("unit-relay", true),
              R"({"get":{"configurator":"","general":"","unit-relay":"","vintor-dir":""}})");
    EXPECT_EQ(relay::requestText("drift-mean", false), R"({"get":{"configurator":"","general":"","drift-mean":""}})");
}

TEST(HeadingMessages, GiveTheEastNorthUpHeadingInOneTurn)
{
    struct Case {
        float angle;
        std::vector<std::string> messages;
        std::string heading;
        long long time;
        std::string sensor;
    } cases[] = {
        {0, {"time=1;sensor=g;heading=0deg"}, "90.000000", 1, "g"},
        {0, {"heading=100deg"}, "350.000000", 0, ""},
        {0, {"heading=-300deg"}, "30.000000", 0, ""},
        {0, {"heading=500deg"}, "310.000000", 0, ""}, // one turn and more: still a bearing
        {10, {"heading=0deg"}, "80.000000", 0, ""},
        {0, {"heading=123.5deg"}, "326.500000", 0, ""},
        {0, {"heading=123.5"}, "326.500000", 0, ""},
        {0, {"heading=12deg3"}, "327.000000", 0, ""},
        {0, {"time=1700000000000;sensor=gps1"}, "NaN", 1700000000000, "gps1"},
        {0, {"heading=100deg", "heading=abc;time=x;sensor=s2"}, "350.000000", 0, "s2"}, // bad pieces keep the old
        {0, {"heading=nan", "heading=1e99", "noequals;heading"}, "NaN", 0, ""},
    };
    for (const auto& c : cases) {
        HeadingState s;
        for (const auto& m : c.messages)
            applyHeadingMessage(m, c.angle, &s);
        EXPECT_EQ(s.realheadingENUDeg, c.heading) << c.messages.back();
        EXPECT_EQ(s.gpstimestamp, c.time) << c.messages.back();
        EXPECT_EQ(s.sensor, c.sensor) << c.messages.back();
    }
}

TEST(ImuLines, KeepSevenFieldsWithTheHeadingInFieldFour)
{
    struct Case {
        std::string frame;
        bool sent;
        std::string out;
    } cases[] = {
        {"1,2,3,4,5,6,7", true, "1,2,3,4,H,6,7"},
        {"1,2,3,4,5,6,7,8,9", true, "1,2,3,4,H,6,7"},
        {"1,2,3,4,5", false, ""},
        {"1,2,3,4,5,6,7\0,8"s, true, "1,2,3,4,H,6,7"}, // the line ends at a NUL
        {"1,2,3\0,4,5,6,7"s, false, ""},
        {",,,,,,", true, ",,,,H,,"},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(adjustLine(c.frame.data(), c.frame.size(), "H", &out), c.sent) << c.frame;
        EXPECT_EQ(c.sent ? out : "", c.out) << c.frame;
    }
    EXPECT_EQ(split("a,,b,", ','), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(split("", ','), (std::vector<std::string>{""}));
}

TEST(HeadingFeeds, AreCheckedWholeBeforeAnyWorkerStarts)
{
    struct Case {
        std::string section;
        int code;
        std::vector<std::string> feeds; // name publisherURL headingURL
    } cases[] = {
        {R"({"subscribers":{"a":"127.0.0.1:7001","b":""},"publishers":{"a":"7101","b":"7102"}})", 31, {}},
        {R"({"subscribers":{"a":"127.0.0.1:7001","b":"127.0.0.1:7002"},"publishers":{"b":"7102"}})", 0,
         {"b tcp://*:7102 "}},
        {R"({"subscribers":{"a":"h:1","b":"h:2"},"publishers":{"a":"7101","b":"7102"},"pull":{"heading":"*:7200"}})", 0,
         {"a tcp://*:7101 tcp://*:7200", "b tcp://*:7102 "}},
        // A port that is none, to connect to or to bind: the feed is left out.
        {R"({"subscribers":{"a":"h:70000","b":"h:2","c":"h:3"},"publishers":{"a":"7101","b":"99999","c":"7103"}})", 0,
         {"c tcp://*:7103 "}},
        {R"({"subscribers":{"a":"h:1","b":"h:2","c":"h:3"},"publishers":{"a":"7101abc","b":"1e12","c":7103}})", 0,
         {"c tcp://*:7103 "}},
        {R"({"subscribers":"abc"})", 0, {}},
        {R"("abc")", 0, {}},
    };
    for (const auto& c : cases) {
        Json::Value reply = parse(R"({"success":{"heading-adjust":)" + c.section + "}}");
        std::vector<std::unique_ptr<pidlist_st>> feeds;
        EXPECT_EQ(headingFeeds(reply, "heading-adjust", 0, &feeds), c.code) << c.section;
        std::vector<std::string> got;
        for (size_t i = 0; c.code == 0 && i < feeds.size(); i++)
            got.push_back(feeds[i]->name + " " + feeds[i]->publisherURL + " " + feeds[i]->headingURL);
        EXPECT_EQ(got, c.feeds) << c.section;
    }
    Json::Value angled = parse(R"({"success":{"h":{"subscribers":{"a":"x:1"},"publishers":{"a":"2"},
                                   "RadarXaxisToHeadingRef":"12.5"}}})");
    std::vector<std::unique_ptr<pidlist_st>> feeds;
    headingFeeds(angled, "h", 0, &feeds);
    ASSERT_EQ(feeds.size(), 1u);
    EXPECT_EQ(feeds[0]->radarXaxisToHeadingRef_ENU_deg, 12.5f);
    EXPECT_EQ(feeds[0]->subscriberURL, "tcp://x:1");
}

// Feeds d to g, whose remote port is none, and h and i, whose local one is, are left out.
TEST(UnitFeeds, FindTheUnitBySerialNumber)
{
    const std::string config = R"({"success":{"vintor-dir":{"Configuration":{"sel":"S1"}},"unit-relay":{
        "subscribers":{"a":{"port":"6001","serialSelector":"sel"},"b":{"port":"6002"},"c":{"port":"6003","serialSelector":"other"},
                       "d":{"port":"99999"},"e":{},"f":{"port":"6006abc"},"g":{"port":"1e12"},"h":{"port":"6008"},
                       "i":{"port":"6009"}},
        "publishers":{"a":"6101","b":"6102","c":"6103","d":"6104","e":"6105","f":"6106","g":"6107","h":"6108x",
                      "i":"1e12"}}}})";
    struct Case {
        std::string memory;
        int code;
        std::vector<std::string> feeds;
    } cases[] = {
        {R"({"success":{"Radars":{"S1":{"ip":"10.0.0.1"},"A":{"ip":"10.0.0.2"}}}})", 0,
         {"tcp://10.0.0.1:6001 tcp://*:6101", "tcp://10.0.0.2:6002 tcp://*:6102", "tcp://10.0.0.2:6003 tcp://*:6103"}},
        {R"({"success":{"Radars":{"S1":{"ip":"10.0.0.1"}}}})", 32, {}},
        {R"({"success":{}})", 32, {}},
        {R"({"success":{"Radars":{"S1":{"ip":""},"A":{"ip":"x"}}}})", 31, {}},
        {R"({"error":"x"})", 1, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::unique_ptr<UnitFeed>> feeds;
        EXPECT_EQ(unitFeeds(parse(config), parse(c.memory), "unit-relay", true, &feeds), c.code) << c.memory;
        std::vector<std::string> got;
        if (c.code == 0)
            for (const auto& f : feeds)
                got.push_back(f->subscriberURL + " " + f->publisherURL);
        EXPECT_EQ(got, c.feeds) << c.memory;
    }
}

TEST(BridgeSettings, CommandLineWinsOverTheSection)
{
    struct Case {
        std::string section;
        std::string s;
        int p;
        std::string subscriber;
        int port;
    } cases[] = {
        {R"({"publishers":{"proxyto":"5999"},"subscribers":{"proxyfrom":"h:1"}})", "", 6000, "h:1", 6000},
        {R"({"publishers":{"proxyto":"5999"},"subscribers":{"proxyfrom":"h:1"}})", "x:2", 0, "x:2", 5999},
        {R"({"publishers":{},"subscribers":{}})", "", 0, "127.0.0.1:5050", 5051},
        {R"({})", "", 0, "127.0.0.1:5050", 5051},
        {R"({"publishers":{"proxyto":"5999abc"}})", "", 0, "127.0.0.1:5050", 0},
        {R"({"publishers":{"proxyto":"1e12"}})", "", 0, "127.0.0.1:5050", 0},
        {R"("")", "", 0, "127.0.0.1:5050", 5051},
    };
    for (const auto& c : cases) {
        BridgeSettings b;
        b.subscriberURI = c.s;
        b.publisherPort = c.p;
        bridgeFromReply(parse(R"({"success":{"feed-bridge":)" + c.section + "}}"), "feed-bridge", &b);
        EXPECT_EQ(b.subscriberURI, c.subscriber) << c.section;
        EXPECT_EQ(b.publisherPort, c.port) << c.section;
    }
}

} // namespace
