// The configuration client against the configuration service stand-in, run as
// a real process on free loopback ports.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "configfile.h"
#include "harness.h"

using namespace testsupport;

namespace {

struct Service {
    TempDir dir;
    ConfigServiceOptions options;
    std::unique_ptr<Process> process;

    explicit Service(const std::string& config, const std::string& reply = "", const std::string& nullSection = "") {
        writeFile(dir.file("config.json"), config);
        options.config = dir.file("config.json");
        options.repPort = freePort();
        options.pubPort = freePort();
        options.requestLog = dir.file("requests.log");
        options.reply = reply;
        options.nullSection = nullSection;
    }
    void start() { process = startConfigService(options); }
    std::vector<std::string> requests() { return readRequestLog(options.requestLog); }
};

const char* kMapping = R"({
  "general": {"speed": "1000"},
  "radar": {},
  "radar3": {"serial": "A"},
  "read-only": {"radar2": {"serial": "X"}, "radar3": [1, 2]},
  "vintor": {"debug": 1, "vintor": {"debug": 2}, "publishers": {"fft": 5001}},
  "button": {"pin": "7"}
})";

std::string stringEntry(const ConfigFile& cf, const std::string& key) {
    auto it = cf.content_.find(key);
    return it == cf.content_.end() ? "<missing>" : it->second;
}

}  // namespace

TEST(ConfigFile, WriteConfigSucceedsOnlyOnAReplyWithSuccess) {
    const struct {
        const char* reply;  // the stand-in's test switch
        bool configFile;
        int result;
    } rows[] = {
        {"", true, 0},
        {"nosuccess", true, 1},
        {"nonjson", true, 1},
        {"", false, 1},  // the stand-in's error answer: nothing to write to
    };
    for (const auto& r : rows) {
        Service svc(kMapping, r.reply);
        if (!r.configFile) svc.options.config.clear();
        svc.start();
        ASSERT_TRUE(svc.process);
        ConfigFile cf(svc.options.repPort, svc.options.pubPort);
        EXPECT_EQ(cf.writeConfig(), r.result) << r.reply << " " << r.configFile;
    }
}

TEST(ConfigFile, SendsTheExactRequestTextsAndFlattensTheReply) {
    Service svc(kMapping, "", "radar2");
    svc.start();
    ASSERT_TRUE(svc.process);
    ConfigFile cf(svc.options.repPort, svc.options.pubPort);

    testing::internal::CaptureStdout();
    EXPECT_EQ(cf.readConfig(), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(cf.writeConfig(), 0);
    EXPECT_EQ(cf.sendMessage("{\"getmem\":\"\"}"), 0);

    std::vector<std::string> want = {
        "{\"get\":{\"general\":\"\"}}",
        "{\"get\":{\"vintor\":\"\",\"radar\":\"\",\"radar2\":\"\",\"radar3\":\"\",\"read-only\":\"\"}}",
        "{ \"write\": \"\" }",
        "{\"getmem\":\"\"}",
    };
    EXPECT_EQ(svc.requests(), want);

    EXPECT_EQ(cf.SectionExists("radar0"), 1);
    EXPECT_EQ(cf.SectionExists("radar1"), 0);
    EXPECT_EQ(cf.SectionExists("radar2"), 1);
    EXPECT_EQ(cf.SectionExists("button"), 0);
    EXPECT_NE(out.find("radar2 == null null\n\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Received: {"), std::string::npos);
    EXPECT_NE(out.find("Keys: radar1/serial=\"X\"\n\n"), std::string::npos) << out;

    struct {
        const char* key;
        const char* value;
    } cases[] = {
        {"radar2/serial", "A"}, {"radar1/serial", "X"},    {"vintor/debug", "2"},
        {"publishers/fft", "5001"}, {"debug/", "<missing>"},
    };
    for (const auto& c : cases) EXPECT_EQ(stringEntry(cf, c.key), c.value) << c.key;
    for (const auto& kv : cf.content_) EXPECT_NE(kv.first.rfind("radar0/", 0), 0u) << kv.first;
    EXPECT_EQ(cf.content_.size(), 4u);
}

TEST(ConfigFile, StoresStringsAsTheirTextAndOtherValuesAsStyledJsonWithoutQuotes) {
    Service svc(R"({"vintor": {"values": {
        "s": "abc", "i": 5, "b": true, "n": null, "r": 2.0, "t": 0.1,
        "trail": "ab  \n", "lead": "  ab", "obj": {"k": "v"},
        "u": "H\u00f6he", "q": "a \"b\"", "bs": "a\\b"}}})");
    svc.start();
    ASSERT_TRUE(svc.process);
    ConfigFile cf(svc.options.repPort, svc.options.pubPort);
    testing::internal::CaptureStdout();
    ASSERT_EQ(cf.readConfig(), 0);
    testing::internal::GetCapturedStdout();

    struct {
        const char* key;
        std::string value;
    } cases[] = {
        {"s", "abc"},   {"i", "5"},      {"b", "true"},
        {"n", "null"},  {"r", "2.0"},    {"t", "0.10000000000000001"},
        {"trail", "ab"}, {"lead", "  ab"}, {"obj", "{\n\tk : v\n}"},
        {"u", "H\xc3\xb6he"}, {"q", "a \"b\""}, {"bs", "a\\b"},
    };
    for (const auto& c : cases) EXPECT_EQ(stringEntry(cf, std::string("values/") + c.key), c.value) << c.key;
}

TEST(ConfigFile, InvalidRepliesLeaveEmptyMapsAndReturnThree) {
    struct {
        const char* reply;
        size_t requestsSent;
    } cases[] = {{"nonjson", 1}, {"nosuccess", 2}};
    for (const auto& c : cases) {
        Service svc(kMapping, c.reply);
        svc.start();
        ASSERT_TRUE(svc.process);
        ConfigFile cf(svc.options.repPort, svc.options.pubPort);
        cf.setValue("old", "key", std::string("v"));
        testing::internal::CaptureStdout();
        EXPECT_EQ(cf.readConfig(), 3) << c.reply;
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(cf.content_.empty()) << c.reply;
        EXPECT_EQ(cf.SectionExists("radar0"), 0) << c.reply;
        EXPECT_EQ(svc.requests().size(), c.requestsSent) << c.reply;
    }
}

TEST(ConfigFile, ASuccessThatIsNoObjectIsAnInvalidReplyAndStrayMemberTypesAreSkipped) {
    // Replies no stand-in switch makes: a scripted service in a thread answers
    // the first request with {} and the second with the case's text.
    struct {
        const char* reply;
        int result;
        size_t entries;  // of content_: only h/k survives the stray types
    } cases[] = {
        {"{\"success\":\"ok\"}", 3, 0},
        {"{\"success\":[1,2]}", 3, 0},
        {"{\"success\":5}", 3, 0},
        {"[{\"success\":{}}]", 3, 0},
        {"{\"success\":null}", 0, 0},
        {"{\"success\":{\"radar\":5,\"radar2\":\"x\",\"read-only\":[1],\"vintor\":{\"g\":7,\"h\":{\"k\":\"v\"}}}}", 0, 1},
    };
    for (const auto& c : cases) {
        zmq::context_t ctx(1);
        zmq::socket_t rep(ctx, zmq::socket_type::rep);
        rep.set(zmq::sockopt::linger, 0);
        rep.bind("tcp://127.0.0.1:*");
        std::string endpoint = rep.get(zmq::sockopt::last_endpoint);
        int port = std::stoi(endpoint.substr(endpoint.rfind(':') + 1));
        std::thread service([&] {
            for (const char* answer : {"{}", c.reply}) {
                zmq::message_t request;
                if (!rep.recv(request)) return;
                rep.send(zmq::buffer(std::string(answer)), zmq::send_flags::none);
            }
        });
        ConfigFile cf(port, 1);
        testing::internal::CaptureStdout();
        int result = cf.readConfig();
        testing::internal::GetCapturedStdout();
        service.join();
        EXPECT_EQ(result, c.result) << c.reply;
        EXPECT_EQ(cf.content_.size(), c.entries) << c.reply;
        EXPECT_EQ(cf.SectionExists("radar1"), 0) << c.reply;
        if (c.entries == 1) {
            EXPECT_EQ(stringEntry(cf, "h/k"), "v");
            EXPECT_EQ(cf.SectionExists("radar0"), 1) << "a radar member of any type names its section";
        }
    }
}

TEST(ConfigFile, WaitsForAServiceThatStartsLate) {
    Service svc(kMapping);
    ConfigFile cf(svc.options.repPort, svc.options.pubPort);
    int result = -1;
    testing::internal::CaptureStdout();
    std::thread reader([&] { result = cf.readConfig(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    svc.start();
    reader.join();
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(svc.process);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(cf.ValueInt("publishers", "fft"), 5001);
}

TEST(ConfigFile, GettersConvertLikeTheCLibraryButSaturate) {
    ConfigFile cf(1, 2);
    struct {
        const char* text;
        int asInt;
        long long asLongLong;
        double asDouble;
    } cases[] = {
        {"12abc", 12, 12, 12.0},
        {"1.9", 1, 1, 1.9},
        {"abc", 0, 0, 0.0},
        {"  -7", -7, -7, -7.0},
        {"2.5e-1", 2, 2, 0.25},
        {"99999999999", INT_MAX, 99999999999LL, 99999999999.0},
        {"-99999999999999999999", INT_MIN, LLONG_MIN, -1e20},
    };
    for (const auto& c : cases) {
        cf.setValue("s", "k", std::string(c.text));
        EXPECT_EQ(cf.ValueInt("s", "k"), c.asInt) << c.text;
        EXPECT_EQ(cf.ValueLongLong("s", "k"), c.asLongLong) << c.text;
        EXPECT_DOUBLE_EQ(cf.ValueDouble("s", "k"), c.asDouble) << c.text;
    }
    cf.setValue("s", "k", std::string("1e300"));
    EXPECT_TRUE(std::isinf(cf.ValueFloat("s", "k")));
    cf.setValue("s", "k", std::string("2.5e-1"));
    EXPECT_FLOAT_EQ(cf.ValueFloat("s", "k"), 0.25f);

    testing::internal::CaptureStdout();
    EXPECT_EQ(cf.ValueInt("radar0", "foo"), 0);
    EXPECT_EQ(cf.ValueFloat("radar0", "foo"), 0.0f);
    std::string keep = "caller's";
    cf.Value("radar0", "foo", &keep);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(keep, "caller's");

    testing::internal::CaptureStdout();
    std::string got = "x";
    cf.ValueString("radar0", "foo", &got);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nParameter radar0 , foo does not exist");
    EXPECT_EQ(got, "");
}

TEST(ConfigFile, SetValueWritesWhatADefaultStreamWrites) {
    ConfigFile cf(1, 2);
    cf.setValue("calc", "f", 0.866025f);
    cf.setValue("calc", "i", 12);
    cf.setValue("calc", "l", -3L);
    cf.setValue("calc", "ll", 1099511627776LL);
    cf.setValue("calc", "d1", 2.5e6);
    cf.setValue("calc", "d2", 100.0);
    cf.setValue("calc", "d3", 0.5);
    cf.setValue("calc", "d4", 1e-5);
    cf.setValue("calc", "d5", std::nan(""));
    cf.setValue("calc", "d6", HUGE_VAL);
    cf.setValue("calc", "s", std::string("text"));
    struct {
        const char* key;
        const char* text;
    } cases[] = {{"f", "0.866025"}, {"i", "12"},   {"l", "-3"},    {"ll", "1099511627776"},
                 {"d1", "2.5e+06"},  {"d2", "100"}, {"d3", "0.5"},  {"d4", "1e-05"},
                 {"d5", "nan"},      {"d6", "inf"}, {"s", "text"}};
    for (const auto& c : cases) EXPECT_EQ(stringEntry(cf, std::string("calc/") + c.key), c.text) << c.key;
    EXPECT_EQ(cf.SectionExists("calc"), 1);

    // The constructor without ports keeps int and float values out.
    ConfigFile memcache;
    memcache.setValue("m", "i", 3);
    memcache.setValue("m", "f", 1.5f);
    memcache.setValue("m", "d", 1.5);
    EXPECT_EQ(stringEntry(memcache, "m/i"), "<missing>");
    EXPECT_EQ(stringEntry(memcache, "m/f"), "<missing>");
    EXPECT_EQ(stringEntry(memcache, "m/d"), "1.5");

    // A re-read drops what was set locally.
    Service svc(kMapping);
    svc.start();
    ASSERT_TRUE(svc.process);
    ConfigFile fresh(svc.options.repPort, svc.options.pubPort);
    fresh.setValue("calc", "i", 12);
    testing::internal::CaptureStdout();
    fresh.readConfig();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fresh.SectionExists("calc"), 0);
    EXPECT_EQ(stringEntry(fresh, "calc/i"), "<missing>");
}

TEST(ConfigFile, ExplodeSplitsAtEveryDelimiterLeftToRight) {
    ConfigFile cf;
    struct {
        const char* delimiter;
        const char* text;
        std::vector<std::string> parts;
    } cases[] = {
        {";", "a;;b", {"a", "", "b"}},
        {",", "a,b,", {"a", "b", ""}},
        {",", "", {""}},
        {"::", "a::b:c", {"a", "b:c"}},
        {"x", "abc", {"abc"}},
        {"", "a;b", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(cf.explode(c.delimiter, c.text), c.parts) << c.text;
}
