// The real program with its UDP command port 3001 and telnet status port 3002,
// inside the private namespace of tests/ns-run, against the configuration
// service stand-in. The test plays the radar and the stages: it fills the
// rings and the status block and stores radar0's trigger semaphore.
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "clients.h"
#include "harness.h"
#include "jsonreply.h"
#include "sharedmem.h"

using namespace testsupport;
using commandtest::TcpClient;
using commandtest::UdpPeer;

namespace {

const int kUdpPort = 3001;
const int kTelnetPort = 3002;

const char* kConfig = R"({
  "general": {"speed": "1000"},
  "vintor": {
    "vintor": {"debug": "1", "portnumber": "3001", "telnetport": "3002", "timeserver": "10.0.0.5",
               "timeport": "3003"},
    "module": {"udp": "1", "telnet": "1"},
    "subscription3": {"active": "1", "ipnr": "10.0.0.9", "portnr": "5040", "kindof": "heave",
                      "onceinthe": "1", "differencetrigger": "0"}
  },
  "radar": {"active": "1", "radarname": "pier", "threshold": "-30", "radarType": "F"},
  "radar2": {"active": "0"},
  "radar3": {"active": "1", "radarname": "quay"}
})";

const std::string kVersion = "Version_buildnummer=1.1";

Json::Value parse(const std::string& text) {
    Json::Value root;
    std::string errors;
    EXPECT_TRUE(commandtest::parseReply(text, &root, &errors)) << errors << "\n" << text;
    return root;
}

class Ports : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigServiceOptions options;
        options.config = dir_.file("config.json");
        options.requestLog = dir_.file("requests.log");
        writeFile(options.config, kConfig);
        service_ = startConfigService(options);
        ASSERT_TRUE(service_);
        Process::Options po;
        po.mergeStderr = true;
        vintor_.reset(new Process(VINTOR_BIN, {"5010", "5011"}, po));
        sharedmem = mapShared<sharedmem_st>("/tmp/sharedmem");
        sharedmemRadar0 = mapShared<sharedmemRadar_st>("/tmp/sharedmemRadar0");
        sharedmemRadar2 = mapShared<sharedmemRadar_st>("/tmp/sharedmemRadar2");
        ASSERT_TRUE(sharedmem && sharedmemRadar0 && sharedmemRadar2);
        std::string reply;
        for (int i = 0; i < 75 && reply.empty(); ++i) {
            peer_.send("get version", kUdpPort);
            peer_.receive(&reply, milliseconds(200));
        }
        ASSERT_EQ(reply, kVersion) << vintor_->output();
    }

    // Sends a datagram and then a tagged version request: the replies come in
    // order, so whatever arrives before the tagged one is the datagram's reply,
    // and by then its ring entries are written.
    std::string exchange(const std::string& datagram) {
        const std::string probe = "id=probe;" + kVersion;
        peer_.send(datagram, kUdpPort);
        peer_.send("id=probe;get version", kUdpPort);
        std::string first, second;
        EXPECT_TRUE(peer_.receive(&first, milliseconds(5000)));
        if (first == probe) return "";
        EXPECT_TRUE(peer_.receive(&second, milliseconds(5000)));
        EXPECT_EQ(second, probe);
        return first;
    }

    TempDir dir_;
    std::unique_ptr<Process> service_;
    std::unique_ptr<Process> vintor_;
    UdpPeer peer_;
};

}  // namespace

TEST_F(Ports, DatagramsAreAnsweredQueuedOrFiledAndNoneEndsTheListener) {
    const std::string sub = "start ip=127.0.0.1;port=" + std::to_string(peer_.port()) + ";kindof=";
    const std::string x300(300, 'x');
    // In order: a "set" is seen by the "get"s after it.
    const struct {
        std::string datagram, reply, task, subscription;
    } rows[] = {
        {"WriteConfig", "Config written", "", ""},
        {"id=Abc;get version", "id=abc;" + kVersion, "", ""},
        {"GET VERSION", kVersion, "", ""},
        {"set radar0 threshold=12", "set", "", ""},
        {"get radar0 threshold", "threshold=12", "", ""},
        {"get radar0 nosuchkey", "nosuchkey=", "", ""},
        {"get radar0 radarType", "radartype=F", "", ""},
        {"set radar0 RadarType=G", "set", "", ""},
        {"get radar0 radartype", "radartype=g", "", ""},
        {"get radar2 radarname", "radarname=quay", "", ""},
        {"get foo", "Error unknown section: foo", "", ""},
        {"get nosuch key", "Error unknown parameter: nosuch key", "", ""},
        {"set radar0 threshold 12", "Invalid set", "", ""},
        {"set a=b c", "Invalid set", "", ""},
        {"set  a=b", "Invalid set", "", ""},
        {"get heave", "", "", sub + "0;param=;"},
        {"get publishers heave", "", "", sub + "0;param=heave;"},
        {"id=7;get vintor portnumber", "", "", sub + "1010;param=portnumber;id=7;"},
        {"get radar0 rawdata", "", "", sub + "2;param=rawdata;"},
        {"get diag", "", "", sub + "2010;param=;"},
        {"get heave " + x300, "", "", (sub + "0;param=" + x300 + ";").substr(0, 250)},
        {"Hello World", "", "hello world", ""},
        {"id=x;start nothing", "", "start nothing", ""},
        // "start;" cuts its six characters, and what follows is read again.
        {"start;get version", kVersion, "", ""},
        {"start;", "", "", ""},
        {"start;1;radar1;", "", "", ""},
        {"start;1;radar2;", "", "", ""},
        {"id=abc", "", "", ""},
        {"", "", "", ""},
        {std::string("\0\x01\xff\xfe", 4), "", "", ""},
        {"\xff\xfe" "ABC", "", "\xff\xfe" "abc", ""},
        {std::string(60000, 'B'), "", std::string(250, 'b'), ""},
    };
    // What a ring holds after a datagram: its newest text, or "" when the index did not move.
    auto added = [](const char (*ring)[TEXT_SLOT_SIZE], int before, int now) {
        EXPECT_TRUE(now == before || now == (before + 1) % TASKS_MAX_INDEX);
        return now == before ? std::string() : std::string(ring[now], strnlen(ring[now], TEXT_SLOT_SIZE));
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.datagram.substr(0, 40));
        const int tasks = sharedmem->key.tasks, subscriptions = sharedmem->key.subscriptiontasks;
        EXPECT_EQ(exchange(r.datagram), r.reply);
        EXPECT_EQ(added(sharedmem->tasks, tasks, sharedmem->key.tasks), r.task);
        EXPECT_EQ(added(sharedmem->subscriptiontasks, subscriptions, sharedmem->key.subscriptiontasks), r.subscription);
    }
    EXPECT_EQ(sharedmemRadar2->timestring[0], '\0') << "radar2 has stored no semaphore";

    // "writeconfig" saved the configuration at the service and asked the
    // telnet service to re-read it.
    std::vector<std::string> requests = readRequestLog(dir_.file("requests.log"));
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "{ \"write\": \"\" }"), 1);
    const int reload = semget(KEYRELOADCONFIGSUBSCRIPTIONS, 1, 0);
    EXPECT_EQ(getSemaphoreValue(reload), 1);

    // The listener ran all along: started once, never restarted.
    vintor_->drain(milliseconds(1200));
    EXPECT_EQ(count(vintor_->output(), "UDP pid="), 1u) << vintor_->output();

    // A command for the supervisor: "killall" ends the program.
    peer_.send("KillAll", kUdpPort);
    ASSERT_TRUE(vintor_->wait(milliseconds(10000)));
    EXPECT_EQ(vintor_->exitCode(), 0);
}

TEST_F(Ports, WriteconfigSaysConfigWrittenOnlyWhenTheServiceSavedIt) {
    const int reload = semget(KEYRELOADCONFIGSUBSCRIPTIONS, 1, 0);
    ASSERT_GE(reload, 0);
    setSemaphore(reload, 0);
    // The stand-in writes beside its file first: a directory there, which its
    // clean-up cannot remove, makes it answer with an error.
    const std::string blocker = dir_.file("config.json.tmp");
    ASSERT_EQ(mkdir(blocker.c_str(), 0700), 0);
    writeFile(blocker + "/keep", "");
    EXPECT_EQ(exchange("writeconfig"), "Config not written");
    EXPECT_EQ(exchange("id=w;WriteConfig"), "id=w;Config not written");
    EXPECT_EQ(getSemaphoreValue(reload), 0) << "nothing to re-read";
    ASSERT_EQ(unlink((blocker + "/keep").c_str()), 0);
    ASSERT_EQ(rmdir(blocker.c_str()), 0);
    EXPECT_EQ(exchange("writeconfig"), "Config written");
    EXPECT_EQ(getSemaphoreValue(reload), 1);
    std::vector<std::string> requests = readRequestLog(dir_.file("requests.log"));
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "{ \"write\": \"\" }"), 3);
}

TEST_F(Ports, StartTriggerOfARunningRadarRaisesCancelsAndRaisesAgain) {
    // What radar0's acquisition process does when it starts.
    const int trigger = getSemaphore(KEYRADAR0);
    ASSERT_GT(trigger, 0) << "identifier 0 reads as a radar that is not running";
    setSemaphore(trigger, 0);
    sharedmemRadar0->semafore = trigger;

    EXPECT_EQ(exchange("start;1234;radar0;"), "");
    EXPECT_EQ(getSemaphoreValue(trigger), 1);
    EXPECT_STREQ(sharedmemRadar0->timestring, "1234");
    const double raised = sharedmemRadar0->localtime;
    EXPECT_GT(raised, 1.6e12);

    EXPECT_EQ(exchange("START;5678;Radar0;"), "");
    EXPECT_EQ(getSemaphoreValue(trigger), 0);
    EXPECT_STREQ(sharedmemRadar0->timestring, "1234");
    EXPECT_EQ(sharedmemRadar0->localtime, raised);

    EXPECT_EQ(exchange("id=t;start;12345678901234567890123;radar0;trailing"), "");
    EXPECT_EQ(getSemaphoreValue(trigger), 1);
    EXPECT_STREQ(sharedmemRadar0->timestring, "1234567890123456789") << "at most 19 characters";
}

TEST_F(Ports, TelnetClientsGetWholeJsonRepliesFromTheRingsAndTheConfiguration) {
    SharedMem mem(nullptr);
    std::unique_ptr<fft_st> f(new fft_st());
    strcpy(f->time, "1700000000500");
    f->length = 1024;
    for (int i = 0; i < 1024; ++i) {
        f->data[0][i] = 1000.5f + i;
        f->data[1][i] = -0.25f * i;
    }
    mem.add("f", f.get(), sizeof *f);
    std::unique_ptr<radar_st> r(new radar_st());
    r->nrOfSweeps = 2;
    r->length = 8;
    memcpy(r->data.com, "\x01\x00\xff\xff\x02\x00\x00\x80", 8);
    mem.add("radar0", r.get(), sizeof *r);
    sharedmem->status.radarConnection = 1;
    sharedmem->status.radarCom = 2;
    sharedmem->status.fft = 17;
    strcpy(sharedmem->status.radarVersion, "V2 \"beta\"\t\\");

    // Asked to re-read the configuration, as "writeconfig" does.
    EXPECT_EQ(exchange("writeconfig"), "Config written");
    const int reload = semget(KEYRELOADCONFIGSUBSCRIPTIONS, 1, 0);
    ASSERT_EQ(getSemaphoreValue(reload), 1);

    // A client that says nothing holds no one else up.
    TcpClient idle(kTelnetPort);

    std::string reply;
    ASSERT_TRUE(commandtest::askTelnet(kTelnetPort, "f", &reply)) << vintor_->output();
    EXPECT_GT(reply.size(), 4096u);
    Json::Value v = parse(reply);
    EXPECT_EQ(v["time"].asString(), "1700000000500");
    std::string up = v["fft-up"].asString(), down = v["fft-down"].asString();
    EXPECT_EQ(std::count(up.begin(), up.end(), ' '), 1024);
    EXPECT_EQ(up.substr(0, 14), "1000.5 1001.5 ");
    EXPECT_EQ(down.substr(0, 15), "-0 -0.25 -0.5 -");
    EXPECT_EQ(getSemaphoreValue(reload), 0) << "re-read at the connection";

    // radar1 has no file, radar9 no ring: an empty record.
    for (const char* request : {"r0", "r1", "r9"}) {
        ASSERT_TRUE(commandtest::askTelnet(kTelnetPort, request, &reply));
        v = parse(reply);
        EXPECT_EQ(v["index"].asString() + v["rawdata-up"].asString() + v["rawdata-down"].asString(),
                  request[1] == '0' ? "11 -1 2 -32768 " : "0") << request;
    }

    ASSERT_TRUE(commandtest::askTelnet(kTelnetPort, "x", &reply));
    v = parse(reply);
    EXPECT_EQ(v["connection"].asString(), "Comport succesfull opened");
    EXPECT_EQ(v["communication"].asString(), "radar requestdata");
    EXPECT_EQ(v["nr_fft"].asString(), "17");
    EXPECT_EQ(v["radarVersion"].asString(), "V2 \"beta\"\t\\");
    EXPECT_NE(v["cpuinfo"].asString().find("<br>"), std::string::npos);
    EXPECT_EQ(v["version"].asString().rfind("Linux version", 0), 0u);

    ASSERT_TRUE(commandtest::askTelnet(kTelnetPort, "c", &reply));
    v = parse(reply);
    EXPECT_EQ(v.getMemberNames(), (std::vector<std::string>{"radar0", "radar2", "vintor"}));
    EXPECT_EQ(v["vintor"]["timeserver"].asString(), "10.0.0.5");
    EXPECT_EQ(v["radar2"]["radarname"].asString(), "quay");
    ASSERT_TRUE(commandtest::askTelnet(kTelnetPort, "s", &reply));
    EXPECT_EQ(parse(reply)["subscription3"]["ipnr"].asString(), "10.0.0.9");

    // A flood of junk and half-open clients leaves the service answering.
    for (int i = 0; i < 20; ++i) {
        TcpClient junk(kTelnetPort);
        junk.send(std::string(5000, static_cast<char>(i * 13)));
    }
    ASSERT_TRUE(commandtest::askTelnet(kTelnetPort, "c", &reply));
    EXPECT_EQ(parse(reply)["vintor"]["timeport"].asString(), "3003");
    EXPECT_EQ(access("/opt/kestrom/tmp/watchdogtimesync", F_OK), 0);
    vintor_->drain(milliseconds(200));
    EXPECT_EQ(count(vintor_->output(), "Telnet pid="), 1u) << vintor_->output();
}

// The service reads the first 1000 bytes of a request; closing with more
// unread would reset the connection, and a reset can cost a client on a real
// network the answer it has not read yet.
TEST_F(Ports, TelnetAnswersWholeAndEndsTheStreamInOrderWhateverTheRequestsLength) {
    std::string expected;
    ASSERT_TRUE(commandtest::askTelnet(kTelnetPort, "c", &expected)) << vintor_->output();
    for (size_t length : {10, 1001, 2000, 4000}) {
        SCOPED_TRACE(length);
        std::string reply;
        EXPECT_TRUE(commandtest::askTelnet(kTelnetPort, "c" + std::string(length - 1, 'x'), &reply))
            << "no end of stream in order";
        EXPECT_EQ(reply, expected);
    }
    // A client that never stops sending, fast or slowly, gets the answer and
    // is then cut off within the service's bound of 2 s.
    const struct {
        size_t chunk;
        milliseconds gap;
    } senders[] = {{65536, milliseconds(1)}, {100, milliseconds(20)}};
    for (const auto& s : senders) {
        SCOPED_TRACE(s.chunk);
        TcpClient c(kTelnetPort);
        ASSERT_TRUE(c.connected());
        c.send("c");
        std::string reply;
        bool ended = false;
        milliseconds took = c.sendUntilCut(std::string(s.chunk, 'x'), s.gap, milliseconds(30000), &reply, &ended);
        EXPECT_TRUE(ended);
        EXPECT_EQ(reply, expected);
        EXPECT_LT(took, milliseconds(4000));
    }
}

// The emulator shows its own command line in /proc/<pid>/cmdline, not the
// title a process gives itself.
TEST_F(Ports, AnIdleTelnetClientsChildWaitsUnderItsOwnTitle) {
    std::string reply;
    ASSERT_TRUE(commandtest::askTelnet(kTelnetPort, "c", &reply)) << vintor_->output();
    TcpClient idle(kTelnetPort);
    for (int i = 0; i < 20; ++i) {
        TcpClient junk(kTelnetPort);
        junk.send(std::string(5000, static_cast<char>(i * 13)));
    }
    ASSERT_TRUE(commandtest::askTelnet(kTelnetPort, "c", &reply)) << vintor_->output();
    bool titled = false;
    for (int pid = 2; pid < 32768 && !titled; ++pid)
        titled = readFile("/proc/" + std::to_string(pid) + "/cmdline").rfind("vintorTelConn", 0) == 0;
    EXPECT_TRUE(titled);
}
