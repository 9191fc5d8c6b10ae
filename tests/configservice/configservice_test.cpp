// The configuration service stand-in as a real process on free loopback ports.
#include "configrequest.h"
#include "harness.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <memory>
#include <thread>
#include <vector>

using namespace testsupport;
using std::chrono::milliseconds;

namespace {

bool tryParse(const std::string& text, Json::Value* v)
{
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    std::string errs;
    return r->parse(text.data(), text.data() + text.size(), v, &errs);
}

Json::Value parse(const std::string& text)
{
    Json::Value v;
    if (!tryParse(text, &v))
        ADD_FAILURE() << "not JSON: " << text;
    return v;
}

Json::Value parseFile(const std::string& path)
{
    return parse(readFile(path));
}

class Service : public ::testing::Test {
protected:
    void start(ConfigServiceOptions o = {})
    {
        writeFile(dir.file("station.json"), readFile(sourcePath("config/station.json")));
        if (o.config.empty())
            o.config = dir.file("station.json");
        if (o.requestLog.empty())
            o.requestLog = dir.file("requests.log");
        options = o;
        service = startConfigServiceOnFreePorts(&options);
        ASSERT_TRUE(service) << "stand-in did not get ready";
    }
    std::string endpoint() const { return "tcp://127.0.0.1:" + std::to_string(options.repPort); }
    std::string notices() const { return "tcp://127.0.0.1:" + std::to_string(options.pubPort); }

    std::string ask(const std::string& text)
    {
        std::string reply;
        EXPECT_TRUE(request(endpoint(), text, &reply)) << "no reply to " << text;
        return reply;
    }

    TempDir dir;
    ConfigServiceOptions options;
    std::unique_ptr<Process> service;
};

} // namespace

TEST_F(Service, GetAnswersSectionsKeysAndLeavesUnknownNamesOut)
{
    start();
    Json::Value file = parseFile(sourcePath("config/station.json"));
    struct { const char* request; const char* reply; } exact[] = {
        {"{ \"get\":{\"tarnix-pic32\":{\"publishers\":{\"rawdata-pub\":\"\"}}}}",
         "{\"success\":{\"tarnix-pic32\":{\"publishers\":{\"rawdata-pub\":\"5020\"}}}}"},
        {"{\"get\":{\"nosuch\":\"\",\"radar\":{\"nokey\":\"\",\"brand\":\"\"}}}",
         "{\"success\":{\"radar\":{\"brand\":\"readfile\"}}}"},
        {"{\"get\":{\"vintor\":{\"module\":{\"fft\":\"\",\"telnet\":\"\"}}}}",
         "{\"success\":{\"vintor\":{\"module\":{\"fft\":\"1\",\"telnet\":\"1\"}}}}"},
        {"{\"getmem\":{\"Radars\":\"\"}}", "{\"success\":{}}"},
    };
    for (auto& c : exact)
        EXPECT_EQ(ask(c.request), c.reply) << c.request;

    // The radar program's own section request: every named section whole.
    Json::Value r = parse(ask("{\"get\":{\"vintor\":\"\",\"radar\":\"\",\"radar2\":\"\",\"radar3\":\"\",\"read-only\":\"\"}}"));
    for (const char* s : {"vintor", "radar", "radar2", "radar3", "read-only"})
        EXPECT_EQ(r["success"][s], file[s]) << s;
    EXPECT_EQ(r["success"].size(), 5u);

    for (const char* all : {"{ \"get\": \"\" }", "{\"get\":null}"})
        EXPECT_EQ(parse(ask(all))["success"], file) << all;
}

TEST_F(Service, SetMergesIntoSectionsAndGetmemReturnsSetmemValues)
{
    start();
    EXPECT_EQ(ask("{\"set\":{\"radar\":{\"threshold\":\"-20\"},\"newsection\":{\"a\":{\"b\":\"c\"}}}}"),
              "{\"success\":\"ok\"}");
    Json::Value r = parse(ask("{\"get\":{\"radar\":\"\",\"newsection\":\"\"}}"))["success"];
    EXPECT_EQ(r["radar"]["threshold"], "-20");
    EXPECT_EQ(r["radar"]["brand"], "readfile") << "other keys survive a merge";
    EXPECT_EQ(r["newsection"]["a"]["b"], "c");

    ask("{\"setmem\":{\"sensors\":{\"sensorname\":\"health\",\"temperature\":23.37,\"humidity\":54.79}}}");
    ask("{\"setmem\":{\"status\":{\"vintor\":{\"validDataPoints\":\"90.000000\"}}}}");
    ask("{\"setmem\":{\"status\": {\"led\":\"0\"}}}");
    Json::Value m = parse(ask("{\"getmem\":{\"sensors\":\"\",\"status\":{\"led\":\"\",\"vintor\":\"\"}}}"))["success"];
    EXPECT_EQ(m["sensors"]["temperature"].asDouble(), 23.37);
    EXPECT_EQ(m["sensors"]["sensorname"], "health");
    EXPECT_EQ(m["status"]["led"], "0");
    EXPECT_EQ(m["status"]["vintor"]["validDataPoints"], "90.000000");
}

// A "set" merges objects and replaces a value only with one of its kind: anything
// else would wipe a section or key, and a "write" would save the loss.
TEST_F(Service, SetThatChangesTheKindOfAStoredValueIsRefusedWhole)
{
    start();
    ASSERT_EQ(ask(R"({"set":{"kinds":{"n":5,"b":true,"a":[1,2],"z":null,"t":"x","o":{"k":"v"}}}})"),
              "{\"success\":\"ok\"}");
    ASSERT_EQ(ask("{\"write\":\"\"}"), "{\"success\":\"ok\"}");
    const struct {
        const char* set;
        const char* error;  // "" when taken
    } rows[] = {
        {R"({"radar":"x"})", "set of radar refused: a section is an object, not a text"},
        {R"({"radar":null})", "set of radar refused: a section is an object, not null"},
        {R"({"radar":[1,2]})", "set of radar refused: a section is an object, not an array"},
        {R"({"radar":7})", "set of radar refused: a section is an object, not a number"},
        {R"({"radar":false})", "set of radar refused: a section is an object, not true or false"},
        {R"({"newsection":"x"})", "set of newsection refused: a section is an object, not a text"},
        {R"({"newsection":null})", "set of newsection refused: a section is an object, not null"},
        {R"({"radar":{"brand":{"a":"b"}}})", "set of radar/brand refused: an object cannot replace a text"},
        {R"({"radar":{"brand":5}})", "set of radar/brand refused: a number cannot replace a text"},
        {R"({"radar":{"brand":null}})", "set of radar/brand refused: null cannot replace a text"},
        {R"({"radar":{"brand":["readudp"]}})", "set of radar/brand refused: an array cannot replace a text"},
        {R"({"kinds":{"n":"6"}})", "set of kinds/n refused: a text cannot replace a number"},
        {R"({"kinds":{"b":1}})", "set of kinds/b refused: a number cannot replace true or false"},
        {R"({"kinds":{"a":{"0":1}}})", "set of kinds/a refused: an object cannot replace an array"},
        {R"({"kinds":{"o":"v"}})", "set of kinds/o refused: a text cannot replace an object"},
        {R"({"kinds":{"o":{"k":{"deeper":"v"}}}})", "set of kinds/o/k refused: an object cannot replace a text"},
        // Whole or nothing: the good parts of a refused request are not stored either.
        {R"({"radar":{"threshold":"-1"},"radar2":"x"})", "set of radar2 refused: a section is an object, not a text"},
        {R"({"radar":{"threshold":"-1","brand":7}})", "set of radar/brand refused: a number cannot replace a text"},
        {R"({"kinds":{"n":7.5,"b":false,"a":[],"t":"y","z":{"now":"set"},"o":{"k":"w","new":[null]}}})", ""},
        {R"({"radar":{"brand":"readudp","newkey":1},"newsection":{"a":{"b":null}}})", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.set);
        const Json::Value served = parse(ask("{\"get\":\"\"}"))["success"];
        const Json::Value written = parseFile(options.config);
        Json::Value reply = parse(ask(std::string("{\"set\":") + row.set + "}"));
        if (*row.error != '\0') {
            EXPECT_EQ(reply, parse(std::string("{\"error\":\"") + row.error + "\"}"));
            EXPECT_EQ(parse(ask("{\"get\":\"\"}"))["success"], served);
            EXPECT_EQ(ask("{\"write\":\"\"}"), "{\"success\":\"ok\"}");
            EXPECT_EQ(parseFile(options.config), written);
        } else {
            EXPECT_EQ(reply, parse("{\"success\":\"ok\"}"));
            Json::Value now = parse(ask("{\"get\":\"\"}"))["success"];
            EXPECT_NE(now, served);
            EXPECT_EQ(now["radar"]["threshold"], served["radar"]["threshold"]);
        }
    }
    Json::Value now = parse(ask("{\"get\":{\"kinds\":\"\",\"radar\":{\"brand\":\"\",\"newkey\":\"\"}}}"))["success"];
    EXPECT_EQ(now, parse(R"({"kinds":{"a":[],"b":false,"n":7.5,"o":{"k":"w","new":[null]},"t":"y","z":{"now":"set"}},)"
                                R"("radar":{"brand":"readudp","newkey":1}})"));
}

TEST_F(Service, DeletememRemovesKeysBranchesAndNamedOrValuedMembers)
{
    writeFile(dir.file("memory.json"),
              "{\"actions\":{\"a1\":\"echo one\",\"a2\":\"echo two\",\"a3\":\"echo three\"},"
              "\"status\":{\"led\":\"1\",\"network\":\"up\"},\"gone\":{\"x\":\"1\"}}");
    ConfigServiceOptions o;
    o.memory = dir.file("memory.json");
    start(o);
    // The action runner names an action by its command, written by a styled writer.
    ask("{\"deletemem\":{\"actions\":\"echo two\"\n}}");
    ask("{\"deletemem\":{\"actions\":\"a3\"}}");
    ask("{\"deletemem\":{\"status\":{\"led\":\"\"}}}");
    ask("{\"deletemem\":{\"gone\":\"\",\"nosuch\":\"\"}}");
    EXPECT_EQ(ask("{\"getmem\":\"\"}"),
              "{\"success\":{\"actions\":{\"a1\":\"echo one\"},\"status\":{\"network\":\"up\"}}}");
}

TEST_F(Service, WriteSavesAndReadReloadsTheFile)
{
    start();
    ask("{\"set\":{\"radar\":{\"mountingheight\":\"1500\"}}}");
    EXPECT_EQ(ask("{ \"write\": \"\" }"), "{\"success\":\"ok\"}");
    Json::Value saved = parseFile(options.config);
    EXPECT_EQ(saved["radar"]["mountingheight"], "1500");
    EXPECT_EQ(saved["general"], parseFile(sourcePath("config/station.json"))["general"]);

    saved["radar"]["mountingheight"] = "900";
    writeFile(options.config, saved.toStyledString());
    EXPECT_EQ(ask("{ \"read\": \"\" }"), "{\"success\":\"ok\"}");
    EXPECT_EQ(ask("{\"get\":{\"radar\":{\"mountingheight\":\"\"}}}"),
              "{\"success\":{\"radar\":{\"mountingheight\":\"900\"}}}");

    // A broken file is refused and the tree in use stays.
    writeFile(options.config, "{ broken");
    EXPECT_TRUE(parse(ask("{\"read\":\"\"}")).isMember("error"));
    EXPECT_EQ(ask("{\"get\":{\"radar\":{\"mountingheight\":\"\"}}}"),
              "{\"success\":{\"radar\":{\"mountingheight\":\"900\"}}}");
}

TEST_F(Service, FaultyRequestsGetAnErrorAndTheServiceGoesOn)
{
    start();
    const char* bad[] = {
        "", "not json", "{\"get\":\"\"} trailing", "[1,2]", "{}", "\"get\"",
        "{\"get\":\"\",\"set\":{}}", "{\"frobnicate\":\"\"}", "{\"get\":5}", "{\"get\":\"radar\"}",
        "{\"set\":\"x\"}", "{\"setmem\":[1]}", "{\"deletemem\":7}", "{\"get\":{\"a\":1,\"a\":2}}",
    };
    for (const char* b : bad) {
        Json::Value r = parse(ask(b));
        EXPECT_TRUE(r.isObject() && r["error"].isString()) << b;
        EXPECT_FALSE(r.isMember("success")) << b;
    }
    // A text ends at its first NUL, as for every client of the service.
    EXPECT_TRUE(parse(ask(std::string("{\"get\":\"\"}\0x", 12))).isMember("success"));
    EXPECT_TRUE(parse(ask(std::string("\0{\"get\":\"\"}", 11))).isMember("error"));
    EXPECT_TRUE(parse(ask("{\"get\":{\"general\":\"\"}}")).isMember("success"));
    EXPECT_TRUE(service->running());
}

// JSON is UTF-8 text: a name or text that is not would be written back with
// U+FFFD in its place, merging names that differ only there.
TEST_F(Service, TextThatIsNotUtf8IsRefusedWholeAndUtf8ComesBackAsSent)
{
    start();
    const struct {
        std::string request;
        bool taken;
    } rows[] = {
        {"{\"set\":{\"x\":{\"a\xff\":\"1\",\"a\xfe\":\"2\"}}}", false},
        {"{\"set\":{\"x\":{\"k\":\"v\xc3\"}}}", false},           // cut sequence
        {"{\"set\":{\"x\":{\"k\":\"\xc0\xaf\"}}}", false},         // overlong
        {"{\"set\":{\"x\":{\"\\udc00\":\"1\",\"\\udc01\":\"2\"}}}", false},  // lone surrogates, escaped
        {"{\"setmem\":{\"x\":{\"k\":[\"\xed\xa0\x80\"]}}}", false},  // surrogate, raw
        {"{\"get\":{\"x\xff\":\"\"}}", false},
        {"{\"set\":{\"y\":{\"caf\xc3\xa9\":\"\xf0\x9f\x8c\x8a\",\"\\u00e9\":\"\\ud83c\\udf0a\"}}}", true},
    };
    for (const auto& row : rows) {
        Json::Value reply;
        std::string why;
        ASSERT_TRUE(parseStrictJson(ask(row.request), &reply, &why)) << why;
        if (row.taken) {
            EXPECT_TRUE(reply.isMember("success")) << row.request;
        } else {
            EXPECT_EQ(reply["error"].asString(), "request holds text that is not UTF-8") << row.request;
        }
    }
    Json::Value all;
    std::string why;
    ASSERT_TRUE(parseStrictJson(ask("{\"get\":\"\"}"), &all, &why)) << why;
    EXPECT_FALSE(all["success"].isMember("x"));
    EXPECT_EQ(all["success"]["y"]["caf\xc3\xa9"].asString(), "\xf0\x9f\x8c\x8a");
    EXPECT_EQ(all["success"]["y"]["\xc3\xa9"].asString(), "\xf0\x9f\x8c\x8a");
    Json::Value memory;
    ASSERT_TRUE(parseStrictJson(ask("{\"getmem\":\"\"}"), &memory, &why)) << why;
    EXPECT_FALSE(memory["success"].isMember("x"));
}

TEST_F(Service, NoticesNameEachChangedSectionOrBranch)
{
    start();
    Subscriber sub(notices());
    std::string m;
    // The first notices may be lost while the subscription joins: repeat until one comes.
    ASSERT_TRUE(sub.receiveAfter([&] { ask("{\"setmem\":{\"status\":{\"led\":\"1\"}}}"); }, &m, milliseconds(5000)));
    EXPECT_EQ(m, "status");
    while (sub.receive(&m, milliseconds(300))) {
    }

    ask("{\"set\":{\"radar\":{\"threshold\":\"-25\"},\"radar2\":{\"active\":\"1\"}}}");
    EXPECT_EQ(sub.collect(3, milliseconds(500)), (std::vector<std::string>{"radar", "radar2"}));
    ask("{\"set\":{\"radar\":{\"threshold\":\"-25\"}}}");
    EXPECT_TRUE(sub.collect(1, milliseconds(300)).empty()) << "an unchanged section is not announced";
    ask("{\"setmem\":{\"sensors\":{\"temperature\":20.5}}}");
    ask("{\"deletemem\":{\"sensors\":{\"temperature\":\"\"}}}");
    ask("{\"get\":\"\"}");
    EXPECT_EQ(sub.collect(3, milliseconds(500)), (std::vector<std::string>{"sensors", "sensors"}));

    // A reload announces the sections that differ from the file.
    ask("{\"read\":\"\"}");
    EXPECT_EQ(sub.collect(3, milliseconds(500)), (std::vector<std::string>{"radar", "radar2"}));
}

TEST_F(Service, RequestSentBeforeTheServiceStartsIsAnsweredOnceItRuns)
{
    auto ports = freePorts(2);
    int rep = ports[0];
    zmq::context_t ctx(1);
    zmq::socket_t req(ctx, zmq::socket_type::req);
    req.set(zmq::sockopt::linger, 0);
    req.connect("tcp://localhost:" + std::to_string(rep));
    req.send(zmq::buffer(std::string("{\"get\":{\"general\":\"\"}}")), zmq::send_flags::none);
    std::this_thread::sleep_for(milliseconds(300));

    writeFile(dir.file("station.json"), readFile(sourcePath("config/station.json")));
    ConfigServiceOptions o;
    o.config = dir.file("station.json");
    o.repPort = rep;
    o.pubPort = ports[1];
    auto svc = startConfigService(o);
    ASSERT_TRUE(svc);
    zmq::pollitem_t item{static_cast<void*>(req), 0, ZMQ_POLLIN, 0};
    ASSERT_EQ(zmq::poll(&item, 1, milliseconds(5000)), 1);
    zmq::message_t reply;
    ASSERT_TRUE(req.recv(reply));
    EXPECT_EQ(parse(reply.to_string())["success"]["general"]["speed"], "1000");
}

TEST_F(Service, RequestLogHoldsExactBytes)
{
    start();
    const std::string sent[] = {"{ \"get\":{\"general\":\"\"}}", "{\"deletemem\":{\"actions\":\"a b\"\n}}", ""};
    for (auto& s : sent)
        ask(s);
    EXPECT_EQ(readRequestLog(options.requestLog), std::vector<std::string>(std::begin(sent), std::end(sent)));
}

TEST_F(Service, TestSwitchesShapeTheReply)
{
    struct { const char* mode; bool answers; bool json; } modes[] = {
        {"nonjson", true, false}, {"nosuccess", true, true}, {"silent", false, false},
    };
    for (auto& c : modes) {
        ConfigServiceOptions o;
        o.reply = c.mode;
        o.requestLog = dir.file(std::string(c.mode) + ".log");
        start(o);
        std::string reply;
        bool got = request(endpoint(), "{\"get\":{\"general\":\"\"}}", &reply, milliseconds(c.answers ? 5000 : 400));
        EXPECT_EQ(got, c.answers) << c.mode;
        if (got) {
            Json::Value v;
            bool isJson = tryParse(reply, &v);
            EXPECT_EQ(isJson, c.json) << c.mode;
            if (isJson) {
                EXPECT_FALSE(v.isMember("success")) << c.mode;
            }
        }
        // A silent service still takes the next request.
        request(endpoint(), "{\"get\":\"\"}", &reply, milliseconds(c.answers ? 5000 : 200));
        EXPECT_EQ(readRequestLog(o.requestLog).size(), 2u) << c.mode;
        service.reset();
    }

    ConfigServiceOptions o;
    o.nullSection = "radar2";
    start(o);
    EXPECT_EQ(ask("{\"get\":{\"radar2\":\"\",\"general\":{\"speed\":\"\"}}}"),
              "{\"success\":{\"general\":{\"speed\":\"1000\"},\"radar2\":null}}");
    EXPECT_EQ(ask("{\"get\":{\"general\":{\"speed\":\"\"}}}"), "{\"success\":{\"general\":{\"speed\":\"1000\"}}}");
}

TEST_F(Service, AnswersTheDelayedVerbLate)
{
    ConfigServiceOptions o;
    o.delay = "deletemem:300";
    start(o);
    auto sent = std::chrono::steady_clock::now();
    EXPECT_EQ(ask("{\"deletemem\":{\"actions\":\"true\"\n}}"), "{\"success\":\"ok\"}");
    EXPECT_GE(std::chrono::steady_clock::now() - sent, milliseconds(300));
    EXPECT_EQ(ask("{\"getmem\":\"\"}"), "{\"success\":{}}");
}

TEST(ServiceStart, RefusesBadFilesAndCommandLines)
{
    TempDir dir;
    writeFile(dir.file("bad.json"), "{ nope");
    writeFile(dir.file("array.json"), "[]");
    writeFile(dir.file("latin1.json"), "{\"caf\xe9\": {}}");
    struct { std::vector<std::string> args; int code; } cases[] = {
        {{"-c", dir.file("missing.json")}, 2},
        {{"-c", dir.file("bad.json")}, 2},
        {{"-m", dir.file("array.json")}, 2},
        {{"-c", dir.file("latin1.json")}, 2},
        {{"-r", "notaport"}, 1},
        {{"-p", "70000"}, 1},
        {{"--reply", "sometimes"}, 1},
        {{"--delay", "deletemem"}, 1},
        {{"--delay", ":300"}, 1},
        {{"--delay", "deletemem:-1"}, 1},
        {{"-x", "y"}, 1},
        {{"-c"}, 1},
    };
    for (auto& c : cases) {
        Process p(configservicePath(), c.args);
        ASSERT_TRUE(p.wait(milliseconds(5000)));
        EXPECT_EQ(p.exitCode(), c.code) << c.args[0];
    }
}

TEST(ServiceStart, ToolsExplainTheirArguments)
{
    Process::Options merged;
    merged.mergeStderr = true;
    Process service(configservicePath(), {"--reply", "sometimes"}, merged);
    ASSERT_TRUE(service.wait(milliseconds(5000)));
    service.drain(milliseconds(100));
    EXPECT_EQ(service.exitCode(), 1);
    EXPECT_NE(service.output().find("nonjson, nosuccess, silent and deep"), std::string::npos) << service.output();

    // Asks for nothing: the endpoint has no service behind it.
    Process help(REQUEST_BIN, {"-e", "tcp://127.0.0.1:1", "-t", "100", "--help"}, merged);
    ASSERT_TRUE(help.wait(milliseconds(5000)));
    help.drain(milliseconds(100));
    EXPECT_EQ(help.exitCode(), 0);
    EXPECT_EQ(help.output().rfind("Use: ", 0), 0u) << help.output();
}

TEST(RequestTool, RefusesUnknownOptionsAndNumbersThatAreNoneWithItsUsage)
{
    // No service on the endpoint: a command line taken as a request would
    // wait its time-out and end with 2.
    const std::vector<std::vector<std::string>> lines = {
        {"-Z"},
        {"-Z", "{}"},
        {"{}", "-x"},
        {"-t", "abc", "{}"},
        {"-t", "10ms", "{}"},
        {"-t", "", "{}"},
        {"-t", "-5", "{}"},
        {"-t", "99999999999", "{}"},
        {"{}", "-t"},
        {"-e"},
        {"{}", "{}"},
    };
    Process::Options merged;
    merged.mergeStderr = true;
    for (const auto& line : lines) {
        std::vector<std::string> args = {"-e", "tcp://127.0.0.1:1"};
        args.insert(args.end(), line.begin(), line.end());
        std::string shown;
        for (const auto& a : line)
            shown += "'" + a + "' ";
        Process tool(REQUEST_BIN, args, merged);
        ASSERT_TRUE(tool.wait(milliseconds(20000))) << shown;
        tool.drain(milliseconds(100));
        EXPECT_EQ(tool.exitCode(), 1) << shown << tool.output();
        EXPECT_NE(tool.output().find("Use: "), std::string::npos) << shown << tool.output();
    }
}

TEST(ConfigRequest, RepliesTimeOutsAndEndpointsThatCannotBe)
{
    ConfigServiceOptions o;
    o.reply = "silent";
    auto silent = startConfigServiceOnFreePorts(&o);
    ASSERT_TRUE(silent);
    ConfigRequest::Options shortWait;
    shortWait.timeoutMs = 200;
    ConfigRequest toSilent(localEndpoint(o.repPort), shortWait);
    std::string reply;
    // After a time-out the next request goes out on a fresh socket.
    EXPECT_EQ(toSilent.exchange("{\"get\":\"\"}", &reply), ConfigRequest::TimedOut);
    EXPECT_EQ(toSilent.exchange("{\"get\":\"\"}", &reply), ConfigRequest::TimedOut);

    ConfigRequest bad("tcp://no such host", shortWait);
    EXPECT_EQ(bad.exchange("{}", &reply), ConfigRequest::ConnectFailed);
    EXPECT_STRNE(bad.reason(), "");
    // A tool that names a bad endpoint before it sends, and one that waits a
    // bounded time and goes on when no reply came.
    ConfigRequest early("tcp://no such host", shortWait);
    EXPECT_EQ(early.open(), ConfigRequest::ConnectFailed);
    EXPECT_EQ(toSilent.open(), ConfigRequest::Ok);
    EXPECT_FALSE(exchangeOrEnd(toSilent, "{\"get\":\"\"}", &reply, OnFailure::Silently));

    const struct { const char* reply; bool json; } replies[] = {
        {"{\"success\":{}}", true}, {"[1,2]", true}, {"this reply is not JSON", false}, {"", false}, {"{\"a\":", false},
    };
    for (const auto& c : replies) {
        Json::Value root;
        std::string errors;
        EXPECT_EQ(parseReply(c.reply, &root, &errors), c.json) << c.reply;
        EXPECT_EQ(errors.empty(), c.json) << c.reply;
    }
}

TEST(ServiceStart, StopsCleanlyOnTerm)
{
    ConfigServiceOptions o;
    auto svc = startConfigServiceOnFreePorts(&o);
    ASSERT_TRUE(svc);
    svc->signal(SIGTERM);
    ASSERT_TRUE(svc->wait(milliseconds(3000)));
    EXPECT_EQ(svc->exitCode(), 0);
}

TEST_F(Service, StopsOnTermWhileItDelaysAReply)
{
    ConfigServiceOptions o;
    o.delay = "get:2000000";
    start(o);
    zmq::context_t context(1);
    zmq::socket_t req(context, zmq::socket_type::req);
    req.set(zmq::sockopt::linger, 0);
    req.connect(endpoint());
    const std::string get = "{\"get\":{\"general\":\"\"}}";
    req.send(zmq::buffer(get), zmq::send_flags::none);
    // Logged as it is taken, before the delay.
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(5000);
    while (readRequestLog(options.requestLog).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(10));
    ASSERT_EQ(readRequestLog(options.requestLog), std::vector<std::string>{get});
    service->signal(SIGTERM);
    ASSERT_TRUE(service->wait(milliseconds(1000)));
    EXPECT_EQ(service->exitCode(), 0);
}
