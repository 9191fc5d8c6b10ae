// The IMU services' configuration client against the configuration stand-in
// (exact request bytes) and against a loopback service that answers a fixed text
// (replies the stand-in never gives).
#include "childrun.h"
#include "configclient.h"
#include "harness.h"

#include <gtest/gtest.h>
#include <zmq.hpp>

#include <atomic>
#include <thread>

using namespace testsupport;

namespace {

const char* const STATION = R"({
  "imu": {"publishers": {"status": "5062", "heave": "5061", "port": 5010, "list": ["a"], "flag": true, "none": null,
                         "deep": {"er": {"key": "v5"}}},
          "text": "imu-value"},
  "motion-sentinel": {"limit": "3"},
  "read-only": {"imu": {"serial": "S1"}},
  "vintor": {"x": "1"}
})";

// A request service that answers every request with the same text. Its thread
// must start after any fork of the test process.
class FixedReply {
public:
    FixedReply(std::string text, int port) : text_(std::move(text)), port_(port)
    {
        socket_.bind("tcp://127.0.0.1:" + std::to_string(port));
        thread_ = std::thread([this] {
            while (!done_) {
                zmq::pollitem_t item{socket_.handle(), 0, ZMQ_POLLIN, 0};
                if (zmq::poll(&item, 1, std::chrono::milliseconds(50)) <= 0)
                    continue;
                zmq::message_t request;
                if (socket_.recv(request))
                    socket_.send(zmq::buffer(text_), zmq::send_flags::none);
            }
        });
    }
    ~FixedReply()
    {
        done_ = true;
        thread_.join();
    }

private:
    std::string text_;
    zmq::context_t context_{1};
    zmq::socket_t socket_{context_, zmq::socket_type::rep};
    int port_ = 0;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class ConfigClientTest : public ::testing::Test {
protected:
    void start(const std::string& reply = "")
    {
        writeFile(dir.file("station.json"), STATION);
        options.config = dir.file("station.json");
        options.requestLog = dir.file("requests.log");
        options.reply = reply;
        service = startConfigServiceOnFreePorts(&options);
        ASSERT_TRUE(service);
    }
    std::vector<std::string> requests() { return readRequestLog(options.requestLog); }

    TempDir dir;
    ConfigServiceOptions options;
    std::unique_ptr<Process> service;
    int ticks = 0;
};

TEST_F(ConfigClientTest, RequestIsStyledJsonWithSortedUniqueSections)
{
    start();
    ConfigClient client(options.repPort, options.pubPort, 0);
    const std::string sections[] = {"read-only", "imu", "motion-sentinel", "imu"};
    EXPECT_EQ(client.requestSections(sections, 4), 0);
    EXPECT_EQ(client.lookup("imu", "publishers", "status"), "5062");
    EXPECT_EQ(client.lookup("imu", "text"), "imu-value");
    EXPECT_EQ(client.lookup("read-only", "imu", "serial"), "S1");
    EXPECT_EQ(client.lookup("imu", "publishers", "deep", "er", "key"), "v5");
    EXPECT_EQ(client.lookup("imu", "publishers", "absent"), "") << "a missing last key is the empty text";
    EXPECT_EQ(client.lookup("imu", "publishers", "deep", "absent"), "");

    EXPECT_EQ(client.requestSections(sections, 0), 0);
    ConfigClient memory(options.repPort, options.pubPort, 1);
    EXPECT_EQ(memory.requestSections(sections + 1, 1), 0);
    client.setVerbose(1);
    EXPECT_EQ(client.requestWrite(), 0);

    std::vector<std::string> expected = {
        "{\n"
        "   \"get\" : {\n"
        "      \"imu\" : \"\",\n"
        "      \"motion-sentinel\" : \"\",\n"
        "      \"read-only\" : \"\"\n"
        "   }\n"
        "}\n",
        "{\n   \"get\" : null\n}\n",
        "{\n   \"getmem\" : {\n      \"imu\" : \"\"\n   }\n}\n",
        "{ \"write\": \"\" }",
    };
    EXPECT_EQ(requests(), expected);
}

// Each failing path prints the path and ends the program with 1.
TEST_F(ConfigClientTest, LookupsThatFindNoTextEndTheProgram)
{
    start();
    struct { std::vector<std::string> path; const char* out; } cases[] = {
        {{"imu", "publishers", "port"}, "No imu,publishers,port data found!\r\n"},
        {{"imu", "publishers", "list"}, "No imu,publishers,list data found!\r\n"},
        {{"imu", "publishers", "flag"}, "No imu,publishers,flag data found!\r\n"},
        {{"imu", "publishers", "none"}, "No imu,publishers,none data found!\r\n"},
        {{"imu", "publishers"}, "No imu,publishers data found!\r\n"},
        {{"imu", "absent", "status"}, "No imu,absent,status data found!\r\n"},
        {{"imu", "text", "status"}, "No imu,text,status data found!\r\n"},
        {{"imu", "publishers", "list", "a"}, "No imu,publishers,list,a data found!\r\n"},
        {{"vintor", "x"}, "No vintor,x data found!\r\n"},
        {{"imu", "publishers", "deep", "no", "key"}, "No imu,publishers,deep,no,key data found!\r\n"},
    };
    for (auto& c : cases) {
        ChildResult r = runChild([&] {
            ConfigClient client(options.repPort, options.pubPort, 0);
            const std::string sections[] = {"imu", "motion-sentinel"};
            client.requestSections(sections, 2);
            auto& p = c.path;
            std::string v = p.size() == 2 ? client.lookup(p[0], p[1])
                            : p.size() == 3 ? client.lookup(p[0], p[1], p[2])
                            : p.size() == 4 ? client.lookup(p[0], p[1], p[2], p[3])
                                            : client.lookup(p[0], p[1], p[2], p[3], p[4]);
            printf("found %s\n", v.c_str());
        });
        EXPECT_TRUE(r.exited) << c.out;
        EXPECT_EQ(r.status, 1) << c.out;
        EXPECT_EQ(r.out, c.out);
    }
}

TEST_F(ConfigClientTest, ALaterRequestReplacesTheSectionsOfTheFirst)
{
    start();
    ChildResult r = runChild([&] {
        ConfigClient client(options.repPort, options.pubPort, 0);
        const std::string both[] = {"imu", "read-only"};
        client.requestSections(both, 2);
        printf("%s\n", client.lookup("read-only", "imu", "serial").c_str());
        client.requestSections(both, 1);
        printf("%s\n", client.lookup("imu", "text").c_str());
        client.lookup("read-only", "imu", "serial");
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "S1\nimu-value\nNo read-only,imu,serial data found!\r\n");
}

TEST(ConfigClientReplies, RepliesWithoutTheExpectedObjectsEndTheFirstLookup)
{
    // A reply without "success", or none at all, is said as such before the
    // lookup names what it did not find.
    const std::string noSuccess = "Configuration reply holds no \"success\" object\r\n";
    struct { const char* reply; int parsed; std::string said; } cases[] = {
        {R"({"error":"x"})", 0, noSuccess},
        {R"("hello")", 0, noSuccess},
        {R"([1,2])", 0, noSuccess},
        {R"({"success":"x"})", 0, noSuccess},
        {R"({"success":{"imu":[]}})", 0, ""},
        {R"({"success":{"imu":{"publishers":5}}})", 0, ""},
        {"null", 0, noSuccess},
        {"", 3, "Failed to parse JSON\r\n"},
    };
    for (auto& c : cases) {
        const int port = freePort();
        std::unique_ptr<FixedReply> service;
        ChildResult r = runChild(
            [&] {
                ConfigClient client(port, 5011, 0, true);
                const std::string imu = "imu";
                printf("%d\n", client.requestSections(&imu, 1));
                client.lookup("imu", "publishers", "status");
            },
            std::chrono::milliseconds(20000), [&](pid_t) {
                if (!service)
                    service.reset(new FixedReply(c.reply, port));
            });
        EXPECT_EQ(r.status, 1) << c.reply;
        EXPECT_EQ(r.out, c.said + std::to_string(c.parsed) + "\nNo imu,publishers,status data found!\r\n") << c.reply;
    }
}

TEST_F(ConfigClientTest, AReplyThatIsNotJsonIsSaidTheFullFormWithTheParsersMessages)
{
    start("nonjson");
    for (bool quiet : {false, true}) {
        ChildResult r = runChild([&] {
            ConfigClient client(options.repPort, options.pubPort, 0, quiet);
            const std::string imu = "imu";
            printf("result %d\n", client.requestSections(&imu, 1));
        });
        EXPECT_EQ(r.status, 0);
        if (quiet)
            EXPECT_EQ(r.out, "Failed to parse JSON\r\nresult 3\n");
        else
            EXPECT_EQ(r.out, "Failed to parse JSON\r\n* Line 1, Column 1\n  Syntax error: value, object or array expected.\n\n"
                             "result 3\n");
    }
}

TEST_F(ConfigClientTest, ARequestWaitsForAServiceThatStartsLater)
{
    options.repPort = freePort();
    ChildResult r = runChild(
        [&] {
            ConfigClient client(options.repPort, 5011, 0);
            const std::string imu = "imu";
            client.requestSections(&imu, 1);
            printf("%s\n", client.lookup("imu", "publishers", "heave").c_str());
        },
        std::chrono::milliseconds(20000), [&](pid_t) {
            if (!service && ++ticks == 5) {
                writeFile(dir.file("station.json"), STATION);
                options.config = dir.file("station.json");
                options.pubPort = freePort();
                service = startConfigService(options);
            }
        });
    ASSERT_TRUE(service) << "stand-in did not start on port " << options.repPort;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "5061\n");
}

} // namespace
