// The stand-in on its fixed ports with the shipped configuration, reached over
// IPv4 and IPv6 as the programs reach it. Runs in a private network namespace.
#include "harness.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace testsupport;
using std::chrono::milliseconds;

TEST(FixedPorts, AnswersOnBothAddressFamiliesAndAnnouncesOnTheNoticePort)
{
    TempDir dir;
    writeFile(dir.file("station.json"), readFile(sourcePath("config/station.json")));
    ConfigServiceOptions o;
    o.config = dir.file("station.json");
    auto svc = startConfigService(o);
    ASSERT_TRUE(svc);

    const std::string boardRequest = "{ \"get\":{\"tarnix-pic32\":{\"publishers\":{\"rawdata-pub\":\"\"}}}}";
    const std::string boardReply = "{\"success\":{\"tarnix-pic32\":{\"publishers\":{\"rawdata-pub\":\"5020\"}}}}";
    std::string reply;
    for (const char* ep : {"tcp://127.0.0.1:5010", "tcp://localhost:5010"}) {
        ASSERT_TRUE(request(ep, boardRequest, &reply)) << ep;
        EXPECT_EQ(reply, boardReply) << ep;
    }
    std::ifstream v6("/proc/net/if_inet6");
    std::string any;
    if (v6 && std::getline(v6, any)) {
        ASSERT_TRUE(request("tcp://[::1]:5010", boardRequest, &reply));
        EXPECT_EQ(reply, boardReply);
    } else {
        std::printf("IPv6 is off in this kernel: only IPv4 checked\n");
    }

    Subscriber radarNotices("tcp://localhost:5011", "radar");
    std::string m;
    int n = 0;
    ASSERT_TRUE(radarNotices.receiveAfter(
        [&] { request("tcp://127.0.0.1:5010", "{\"set\":{\"radar3\":{\"active\":\"" + std::to_string(++n) + "\"}}}", &reply); },
        &m, milliseconds(5000)));
    EXPECT_EQ(m, "radar3") << "prefix subscribers see the longer section names";
}

TEST(FixedPorts, ANestedRequestIsAnsweredWithAnErrorAndServingGoesOn)
{
    TempDir dir;
    auto svc = startConfigServiceWith(dir, "{\"radar\":{\"active\":\"1\"}}");
    ASSERT_TRUE(svc);
    std::string reply;
    for (int depth : {1000, 5000, 200000}) {
        const std::string nested = "{\"set\":" + std::string(depth, '[') + std::string(depth, ']') + "}";
        ASSERT_TRUE(request("tcp://127.0.0.1:5010", nested, &reply)) << depth << " levels";
        EXPECT_EQ(reply, "{\"error\":\"request is not valid JSON\"}") << depth << " levels";
    }
    ASSERT_TRUE(request("tcp://127.0.0.1:5010", "{\"get\":{\"radar\":\"\"}}", &reply));
    EXPECT_EQ(reply, "{\"success\":{\"radar\":{\"active\":\"1\"}}}");
    EXPECT_TRUE(svc->running());
}
