// The real program on its fixed ports, files and watchdog path, inside the
// private namespace of tests/ns-run, against the configuration service stand-in.
#include <arpa/inet.h>
#include <dirent.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zmq.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include <zmq.hpp>

#include "harness.h"
#include "records.h"

using namespace testsupport;

namespace {

// vintor on the stand-in's ports, its stderr read with its stdout.
struct Vintor : Process {
    explicit Vintor(const std::string& workingDirectory = "")
        : Process(VINTOR_BIN, {"5010", "5011"}, Options{true, workingDirectory, {}}) {}
};

const char* kConfig = R"({
  "general": {"speed": "1000"},
  "vintor": {"vintor": {"debug": "1"}, "module": {"housekeeping": "1", "fft": "0"}},
  "radar": {"active": "1"},
  "radar2": {"active": "0"},
  "radar3": {"active": "1"},
  "button": {"pin": "1"}
})";

off_t fileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

bool zeroFile(const std::string& path) {
    std::string content = readFile(path);
    return !content.empty() && content.find_first_not_of('\0') == std::string::npos;
}

std::unique_ptr<Process> startService(TempDir& dir) {
    return startConfigServiceWith(dir, kConfig);
}

// The stand-in with its notices on another port than vintor's: the notice port
// is the test's own.
std::unique_ptr<Process> startServiceNoticingElsewhere(TempDir& dir, const std::string& json) {
    ConfigServiceOptions o;
    o.config = dir.file("config.json");
    o.pubPort = 5012;
    writeFile(o.config, json);
    return startConfigService(o);
}

// Whether `text` arrives within the time, whole lines or not.
bool waitForText(Process& p, const std::string& text, milliseconds timeout) {
    for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
        if (p.output().find(text) != std::string::npos) return true;
        p.drain(milliseconds(20));
    }
    return p.output().find(text) != std::string::npos;
}

// Titles of the processes whose parent is `parent`.
std::vector<std::string> childTitles(pid_t parent) {
    std::vector<std::string> titles;
    DIR* d = opendir("/proc");
    while (dirent* e = d ? readdir(d) : nullptr) {
        const std::string stat = readFile(std::string("/proc/") + e->d_name + "/stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos || atoi(stat.c_str() + close + 4) != parent) continue;
        const std::string cmdline = readFile(std::string("/proc/") + e->d_name + "/cmdline");
        titles.push_back(cmdline.substr(0, cmdline.find('\0')));
    }
    if (d) closedir(d);
    return titles;
}

}  // namespace

TEST(VintorProgram, CreatesTheFilesOfActiveRadarsRestartsHousekeepingAndEndsOnANotice) {
    TempDir dir;
    auto service = startService(dir);
    ASSERT_TRUE(service);
    // Left over from an earlier run: must come back zeroed at its own size.
    writeFile("/tmp/sharedmemRadar0", std::string(700000, '\xff'));

    Vintor vintor;
    ASSERT_TRUE(vintor.waitForLine("Housekeeping pid=", milliseconds(5000)));
    ASSERT_TRUE(vintor.waitForLine("Housekeeping pid=", milliseconds(6000))) << vintor.output();
    const std::string& out = vintor.output();
    EXPECT_NE(out.find("DEF_sweepSpeed_DEF_baseFrequency 4.351610\nDEF_deltaF 512000000.000000\n"
                       "DEF_sampleFrequency 41666.664062\nDEF_SweepTime 0.012288\n"
                       "DEF_speedOfLight 299702528.000000\nDEF_sweepSpeed 41666666496.000000\n"),
              std::string::npos);
    EXPECT_NE(out.find("Error child Housekeeping class returned"), std::string::npos);

    EXPECT_EQ(fileSize("/tmp/sharedmem"), 965968);
    EXPECT_EQ(fileSize("/tmp/sharedmemRadar0"), 604840);
    EXPECT_EQ(fileSize("/tmp/sharedmemRadar1"), -1);
    EXPECT_EQ(fileSize("/tmp/sharedmemRadar2"), 604840);
    EXPECT_TRUE(zeroFile("/tmp/sharedmemRadar0"));
    EXPECT_TRUE(zeroFile("/tmp/sharedmemRadar2"));
    EXPECT_GE(fileSize("/opt/kestrom/tmp/watchdogvintor"), 0) << "watchdog touched on the first pass";

    // A notice on another topic changes nothing.
    std::string reply;
    ASSERT_TRUE(request("tcp://127.0.0.1:5010", "{\"set\":{\"button\":{\"pin\":\"2\"}}}", &reply));
    std::this_thread::sleep_for(milliseconds(1300));
    EXPECT_TRUE(vintor.running());

    // Any notice under "radar" ends the tree; repeat in case the subscription is late.
    bool ended = false;
    for (int i = 0; i < 10 && !ended; ++i) {
        std::string change = "{\"set\":{\"radar2\":{\"probe\":\"" + std::to_string(i) + "\"}}}";
        ASSERT_TRUE(request("tcp://127.0.0.1:5010", change, &reply));
        ended = vintor.wait(milliseconds(1500));
    }
    ASSERT_TRUE(ended);
    EXPECT_EQ(vintor.exitCode(), 0);
    vintor.drain(milliseconds(100));
    EXPECT_NE(vintor.output().find("\npid:" + std::to_string(vintor.pid()) + " received SIGUSR1\n"),
              std::string::npos);
}

// What ps shows: the supervisor and, beside its stages, the notice watcher,
// each under its own title. The emulator shows its own command line in
// /proc/<pid>/cmdline, not the title a process gives itself.
TEST(VintorProgram, TitlesTheSupervisorAndItsNoticeWatcher) {
    TempDir dir;
    auto service = startService(dir);
    ASSERT_TRUE(service);
    Vintor vintor;
    ASSERT_TRUE(vintor.waitForLine("Housekeeping pid=", milliseconds(5000))) << vintor.output();
    ASSERT_TRUE(vintor.waitForLine("Housekeeping pid=", milliseconds(6000))) << vintor.output();
    EXPECT_EQ(readFile("/proc/" + std::to_string(vintor.pid()) + "/cmdline").rfind("vintorMain", 0), 0u);
    std::vector<std::string> titles = childTitles(vintor.pid());
    EXPECT_EQ(std::count(titles.begin(), titles.end(), "vintorNotice"), 1) << ::testing::PrintToString(titles);
}

TEST(VintorProgram, RefusesASymlinkPlantedAtTheSharedMemoryPath) {
    TempDir dir;
    auto service = startService(dir);
    ASSERT_TRUE(service);
    unlink("/tmp/sharedmem");
    writeFile("/tmp/victim", "precious");
    ASSERT_EQ(symlink("/tmp/victim", "/tmp/sharedmem"), 0);

    Vintor vintor;
    ASSERT_TRUE(vintor.wait(milliseconds(5000)));
    vintor.drain(milliseconds(100));
    EXPECT_EQ(vintor.exitCode(), 1);
    EXPECT_NE(vintor.output().find("sharedmem: "), std::string::npos) << vintor.output();
    EXPECT_EQ(readFile("/tmp/victim"), "precious");
    unlink("/tmp/sharedmem");
}

// One notice, published the moment any subscriber leaves the notice port (or,
// when none leaves, after two restarts of the housekeeping stage), must end
// the tree every time: the subscription is never dropped around a fork.
TEST(VintorProgram, ASingleNoticeEndsTheTreeWhileStagesRestart) {
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        TempDir dir;
        auto service = startServiceNoticingElsewhere(dir, kConfig);
        ASSERT_TRUE(service);
        zmq::context_t ctx(1);
        zmq::socket_t notices(ctx, zmq::socket_type::xpub);
        notices.bind("tcp://127.0.0.1:5011");

        Vintor vintor;
        // Subscribed: both topics have reached the port.
        std::string topics;
        for (int i = 0; i < 200 && (topics.find("\x01vintor") == std::string::npos ||
                                    topics.find("\x01radar") == std::string::npos);
             ++i) {
            zmq::message_t m;
            if (notices.recv(m, zmq::recv_flags::dontwait)) topics += m.to_string() + "|";
            else vintor.drain(milliseconds(50));
        }
        ASSERT_NE(topics.find("\x01vintor"), std::string::npos) << vintor.output();
        ASSERT_NE(topics.find("\x01radar"), std::string::npos) << vintor.output();

        // From now on (not earlier: a late notice would find the subscription
        // back), a thread of its own watches the port, so the notice goes out the
        // moment a subscriber leaves; otherwise once asked to.
        ASSERT_EQ(zmq_socket_monitor(notices.handle(), "inproc://notice-port", ZMQ_EVENT_DISCONNECTED), 0);
        zmq::socket_t monitor(ctx, zmq::socket_type::pair);
        monitor.connect("inproc://notice-port");
        std::atomic<bool> publishNow{false}, left{false};
        std::thread publisher([&] {
            for (;;) {
                zmq::pollitem_t item = {monitor.handle(), 0, ZMQ_POLLIN, 0};
                zmq::poll(&item, 1, std::chrono::milliseconds(1));
                left = (item.revents & ZMQ_POLLIN) != 0;
                if (left || publishNow) break;
            }
            notices.send(zmq::str_buffer("vintor changed"), zmq::send_flags::none);
        });
        const size_t restartsBefore = count(vintor.output(), "Housekeeping pid=");
        while (!left && count(vintor.output(), "Housekeeping pid=") < restartsBefore + 2 && vintor.running())
            vintor.drain(milliseconds(10));
        publishNow = true;
        publisher.join();

        ASSERT_TRUE(vintor.wait(milliseconds(15000))) << (left ? "published as a subscriber left" : "")
                                                      << vintor.output();
        EXPECT_EQ(vintor.exitCode(), 0);
        vintor.drain(milliseconds(100));
        EXPECT_NE(vintor.output().find("Subscriber received:vintor changed\n"), std::string::npos);
    }
}

// Lines a stage prints reach the log while it runs, whether they end with a
// line end (the board front-end's) or begin with one (the peak stage's), and
// before the tree ends on a notice.
TEST(VintorProgram, StageLinesReachTheLogAsTheyArePrinted) {
    TempDir dir;
    auto service = startConfigServiceWith(dir, R"({
      "vintor": {"vintor": {"debug": "0", "debugpeak": "1"}, "module": {"radars": "1", "peak": "1"},
                 "publishers": {"peak": "5031"}},
      "general": {"speed": "1000"},
      "radar": {"active": "1", "brand": "tarnix"},
      "radar2": {"active": "0"},
      "radar3": {"active": "0"},
      "tarnix-pic32": {"publishers": {"rawdata-pub": "5020"}}
    })");
    ASSERT_TRUE(service);
    zmq::context_t ctx(1);
    zmq::socket_t board(ctx, zmq::socket_type::pub);
    board.bind("tcp://127.0.0.1:5020");

    Vintor vintor;
    const sharedmem_st* shm = mapSharedReadOnly<sharedmem_st>("/tmp/sharedmem");
    ASSERT_NE(shm, nullptr);
    // Messages of a wrong size until the radar has stored one failed sweep.
    const std::string wrongSize(4000, 'x');
    for (int i = 0; i < 200 && __atomic_load_n(&shm->key.radar0, __ATOMIC_ACQUIRE) < 1; ++i) {
        board.send(zmq::buffer(wrongSize), zmq::send_flags::none);
        vintor.drain(milliseconds(50));
    }
    ASSERT_GE(__atomic_load_n(&shm->key.radar0, __ATOMIC_ACQUIRE), 1) << vintor.output();
    EXPECT_TRUE(waitForText(vintor, "ZMQTarnix error: message of 4000 bytes, not 4168\n", milliseconds(10000)))
        << vintor.output();
    // Its lines begin with a line end: the last one has none behind it.
    EXPECT_TRUE(waitForText(vintor, "Posting for h sem_h=1", milliseconds(10000))) << vintor.output();

    std::string reply;
    ASSERT_TRUE(request("tcp://127.0.0.1:5010", R"({"set":{"radar":{"probe":"1"}}})", &reply));
    ASSERT_TRUE(vintor.wait(milliseconds(10000))) << vintor.output();
    EXPECT_EQ(vintor.exitCode(), 0);
}

TEST(VintorProgram, ASecondStartLeavesTheRunningOneAndItsFilesAlone) {
    TempDir dir;
    auto service = startService(dir);
    ASSERT_TRUE(service);
    Vintor first;
    ASSERT_TRUE(first.waitForLine("Housekeeping pid=", milliseconds(15000))) << first.output();
    auto* shm = mapShared<sharedmem_st>("/tmp/sharedmem");
    auto* radar0 = mapShared<sharedmemRadar_st>("/tmp/sharedmemRadar0");
    ASSERT_TRUE(shm && radar0);
    // Marks in places no stage of this set-up writes.
    strcpy(shm->log[5], "mark of the running program");
    strcpy(radar0->timestring, "mark");

    Vintor second;
    ASSERT_TRUE(second.wait(milliseconds(15000))) << "a second supervisor runs";
    second.drain(milliseconds(100));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_NE(second.output().find("vintor is already running"), std::string::npos) << second.output();
    EXPECT_STREQ(shm->log[5], "mark of the running program");
    EXPECT_STREQ(radar0->timestring, "mark");
    EXPECT_EQ(fileSize("/tmp/sharedmem"), 965968);
    EXPECT_TRUE(first.waitForLine("Housekeeping pid=", milliseconds(15000))) << "the first one goes on";
}

TEST(VintorProgram, AReplyNestedTooDeepOrNotJsonIsAReplyThatDoesNotParseAndIsSaid) {
    for (const char* reply : {"deep", "nonjson"}) {
        SCOPED_TRACE(reply);
        TempDir dir;
        unlink("/tmp/sharedmem");
        ConfigServiceOptions o;
        o.reply = reply;
        o.requestLog = dir.file("requests.log");
        auto service = startConfigService(o);
        ASSERT_TRUE(service);
        Vintor vintor;
        // Without settings the supervisor starts no stage, but it runs, and says why.
        for (int i = 0; i < 400 && fileSize("/tmp/sharedmem") != 965968 && vintor.running(); ++i)
            vintor.drain(milliseconds(50));
        EXPECT_TRUE(waitForText(vintor, "\nConfiguration reply does not parse as JSON\n", milliseconds(5000)))
            << vintor.output();
        vintor.drain(milliseconds(300));
        EXPECT_TRUE(vintor.running()) << vintor.output();
        EXPECT_EQ(fileSize("/tmp/sharedmem"), 965968);
        EXPECT_EQ(readRequestLog(o.requestLog), std::vector<std::string>{"{\"get\":{\"general\":\"\"}}"})
            << "the second request follows a reply that parsed";
    }
}

TEST(VintorProgram, AFullFileSystemIsAFileThatCannotBeCreated) {
    TempDir dir;
    auto service = startService(dir);
    ASSERT_TRUE(service);
    // /tmp (the private one of this namespace) with less room left than the
    // shared memory takes.
    for (const char* f : {"/tmp/sharedmem", "/tmp/sharedmemRadar0", "/tmp/sharedmemRadar1", "/tmp/sharedmemRadar2"})
        unlink(f);
    struct statvfs v;
    ASSERT_EQ(statvfs("/tmp", &v), 0);
    const unsigned long long used = (v.f_blocks - v.f_bfree) * static_cast<unsigned long long>(v.f_frsize);
    const std::string size = "size=" + std::to_string(used + 512 * 1024);
    ASSERT_EQ(mount("tmpfs", "/tmp", "tmpfs", MS_REMOUNT, size.c_str()), 0) << strerror(errno);
    struct Unlimit {
        ~Unlimit() { mount("tmpfs", "/tmp", "tmpfs", MS_REMOUNT, "size=50%"); }
    } unlimit;
    Vintor vintor;
    ASSERT_TRUE(vintor.wait(milliseconds(15000)));
    vintor.drain(milliseconds(100));
    EXPECT_EQ(vintor.exitCode(), 1) << "not killed by a signal: " << vintor.output();
    EXPECT_NE(vintor.output().find("sharedmem: No space left on device"), std::string::npos) << vintor.output();
}

namespace {

// Live processes of the program (every process of its tree runs its binary,
// whatever title it shows), the reaped and the not yet reaped left out.
std::vector<std::string> liveTreeProcesses() {
    std::vector<std::string> found;
    DIR* d = opendir("/proc");
    while (dirent* e = d ? readdir(d) : nullptr) {
        const std::string stat = readFile(std::string("/proc/") + e->d_name + "/stat");
        const size_t open = stat.find(" ("), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 2 >= stat.size()) continue;
        if (stat.compare(open + 2, close - open - 2, "vintor") != 0 || stat[close + 2] == 'Z') continue;
        const std::string cmdline = readFile(std::string("/proc/") + e->d_name + "/cmdline");
        found.push_back(std::string(e->d_name) + ":" + cmdline.substr(0, cmdline.find('\0')));
    }
    if (d) closedir(d);
    return found;
}

// The station's own set-up, every stage on, its radar replaying the bundled
// recording (relative to the source tree, the program's working directory).
const char* kStationProgram = "config/station.json";

}  // namespace

// However a service manager ends the supervisor (a stop, an out-of-memory
// kill), the whole tree goes with it and a start one second later runs.
TEST(VintorProgram, EndingTheSupervisorEndsTheTreeAndARestartRuns) {
    TempDir dir;
    auto service = startConfigServiceWith(dir, readFile(sourcePath(kStationProgram)));
    ASSERT_TRUE(service);
    const std::string cwd = sourcePath("");
    // Running: the radar's spectra on feed "fft", and every stage forked (one
    // a pass): supervisor, notice watcher, seven stages that stay (housekeeping
    // ends at once) and the radar process.
    auto runs = [&](Process& vintor) {
        Subscriber fft("tcp://127.0.0.1:5030");
        std::string message;
        const bool fed = fft.receive(&message, milliseconds(20000));
        for (int i = 0; i < 400 && liveTreeProcesses().size() < 10; ++i) vintor.drain(milliseconds(50));
        vintor.drain(milliseconds(100));
        return fed && message.size() == sizeof(fft_st) && liveTreeProcesses().size() >= 10;
    };
    const struct {
        int signal;
        int status;  // -1: ended by the signal
    } rows[] = {{SIGTERM, 0}, {SIGKILL, -1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(strsignal(row.signal));
        std::vector<std::string> tree;
        {
            Vintor vintor(cwd);
            ASSERT_TRUE(runs(vintor)) << vintor.output();
            vintor.signal(row.signal);
            ASSERT_TRUE(vintor.wait(milliseconds(3000))) << vintor.output();
            EXPECT_EQ(vintor.exitCode(), row.status) << vintor.output();
            for (int i = 0; i < 60 && !(tree = liveTreeProcesses()).empty(); ++i)
                std::this_thread::sleep_for(milliseconds(50));
            EXPECT_TRUE(tree.empty()) << "left after 3 s: " << ::testing::PrintToString(tree);
        }
        if (!tree.empty()) return;  // the harness has ended the group; the rest would only repeat it
        std::this_thread::sleep_for(milliseconds(1000));
        Vintor again(cwd);
        EXPECT_TRUE(runs(again)) << again.output();
        EXPECT_EQ(again.output().find("already running"), std::string::npos) << again.output();
        again.signal(SIGTERM);
        ASSERT_TRUE(again.wait(milliseconds(3000)));
        for (int i = 0; i < 60 && !liveTreeProcesses().empty(); ++i) std::this_thread::sleep_for(milliseconds(50));
    }
}

namespace {

// A socket bound where a stage of the station wants to listen.
int holdPort(int type, const char* host, int port) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host, &a.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || (type == SOCK_STREAM && listen(fd, 1) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

// A stage that cannot bind the socket it listens on says which one and why,
// ends with status 1 and is started again; the program runs on.
TEST(VintorProgram, AListenerThatCannotBindNamesItsAddress) {
    TempDir dir;
    std::string station = readFile(sourcePath(kStationProgram));
    const std::string brand = "\"brand\": \"readfile\"";
    station.replace(station.find(brand), brand.size(), "\"brand\": \"readudp\"");
    auto service = startConfigServiceWith(dir, station);
    ASSERT_TRUE(service);
    const struct {
        int type;
        const char* host;
        int port;
        const char* line;
    } rows[] = {
        {SOCK_DGRAM, "0.0.0.0", 3001, "UDP command listener 0.0.0.0:3001: Address already in use\n"},
        {SOCK_STREAM, "0.0.0.0", 3002, "telnet status service 0.0.0.0:3002: Address already in use\n"},
        {SOCK_STREAM, "127.0.0.1", 3010, "network replay 127.0.0.1:3010: Address already in use\n"},
    };
    std::vector<int> held;
    for (const auto& row : rows) {
        held.push_back(holdPort(row.type, row.host, row.port));
        ASSERT_GE(held.back(), 0) << row.port;
    }
    const std::string cwd = sourcePath("");
    Vintor vintor(cwd);
    for (const auto& row : rows) {
        // Each is said again at every restart of its stage.
        EXPECT_TRUE(waitForText(vintor, std::string(row.line), milliseconds(20000))) << vintor.output();
    }
    EXPECT_TRUE(vintor.running());
    for (int fd : held) close(fd);
}

namespace {

// The station's configuration with each text `from` (found once) replaced.
std::string stationWith(std::initializer_list<std::pair<std::string, std::string>> changes) {
    std::string station = readFile(sourcePath(kStationProgram));
    for (const auto& c : changes) {
        const size_t at = station.find(c.first);
        EXPECT_NE(at, std::string::npos) << c.first;
        if (at != std::string::npos) station.replace(at, c.first.size(), c.second);
    }
    return station;
}

}  // namespace

// A port that is none (the socket calls would take it modulo 65536, or 0 as
// any port) is refused as a port that cannot be bound: the stage says which
// and ends, and is started again; the program runs on.
TEST(VintorProgram, AStageWhosePortIsNoneNamesItAndEnds) {
    TempDir dir;
    auto service = startConfigServiceWith(
        dir, stationWith({{"\"brand\": \"readfile\"", "\"brand\": \"readudp\""},
                          {"\"portnumber\": \"3010\"", "\"portnumber\": \"65536\""},
                          {"\"portnumber\": \"3001\"", "\"portnumber\": \"70000\""},
                          {"\"telnetport\": \"3002\"", "\"telnetport\": \"abc\""},
                          {"\"fft\": \"5030\"", "\"fft\": \"99999\""}}));
    ASSERT_TRUE(service);
    Vintor vintor(sourcePath(""));
    for (const char* line : {"UDP command listener port 70000: not a port number (1-65535)\n",
                             "telnet status service port 0: not a port number (1-65535)\n",
                             "network replay port 65536: not a port number (1-65535)\n",
                             "fft publisher tcp://*:99999: not a port number (1-65535)\n"})
        EXPECT_TRUE(waitForText(vintor, line, milliseconds(20000))) << vintor.output();
    EXPECT_TRUE(vintor.running());
}

// The subscriptions stage's feed whose port is none is named once and never
// tried again; the stage's other feeds deliver, and nothing listens on the
// port the library would have made of it.
TEST(VintorProgram, AFeedWhosePortIsNoneIsNamedOnceWhileTheOthersDeliver) {
    TempDir dir;
    auto service = startConfigServiceWith(dir, stationWith({{"\"heave\": \"5033\"", "\"heave\": \"70000\""}}));
    ASSERT_TRUE(service);
    Subscriber wrapped("tcp://127.0.0.1:4464");
    Vintor vintor(sourcePath(""));
    const std::string said = "heave publisher tcp://*:70000: not a port number (1-65535)\n";
    EXPECT_TRUE(waitForText(vintor, said, milliseconds(20000))) << vintor.output();
    for (int port : {5034, 5035}) {
        SCOPED_TRACE(port);
        Subscriber feed("tcp://127.0.0.1:" + std::to_string(port));
        std::string message;
        EXPECT_TRUE(feed.receive(&message, milliseconds(16000))) << vintor.output();
    }
    std::string message;
    EXPECT_FALSE(wrapped.receive(&message, milliseconds(100))) << "heave lines on 4464";
    vintor.drain(milliseconds(200));
    EXPECT_EQ(count(vintor.output(), said), 1u) << vintor.output();
    EXPECT_TRUE(vintor.running());
}

// A text feed whose port is taken when the subscriptions stage starts says so
// once and delivers soon after the port is free, while the stage's other feeds
// go on: the station's main output is never silent for the rest of a run.
TEST(VintorProgram, AFeedWhosePortWasTakenAtStartDeliversOnceItIsFree) {
    TempDir dir;
    auto service = startConfigServiceWith(dir, readFile(sourcePath(kStationProgram)));
    ASSERT_TRUE(service);
    const struct {
        const char* label;
        int port;
        milliseconds within;  // a reflection line follows every 8th record, one a second
    } feeds[] = {{"vintor", 5034, milliseconds(8000)}, {"heave", 5033, milliseconds(8000)},
                 {"refl", 5035, milliseconds(16000)}};
    std::vector<int> held;
    for (const auto& f : feeds) {
        held.push_back(holdPort(SOCK_STREAM, "0.0.0.0", f.port));
        ASSERT_GE(held.back(), 0) << f.port;
    }
    Vintor vintor(sourcePath(""));
    auto said = [](const char* label, int port, const char* what) {
        return std::string(label) + " publisher tcp://*:" + std::to_string(port) + ": " + what + "\n";
    };
    for (const auto& f : feeds)
        ASSERT_TRUE(waitForText(vintor, said(f.label, f.port, "Address already in use"), milliseconds(20000)))
            << vintor.output();
    vintor.drain(milliseconds(5000));  // records pass, and tries to bind fail, while the ports are held

    auto delivers = [&](size_t i) {
        SCOPED_TRACE(feeds[i].label);
        Subscriber feed("tcp://127.0.0.1:" + std::to_string(feeds[i].port));
        std::string message;
        EXPECT_TRUE(feed.receive(&message, feeds[i].within)) << vintor.output();
    };
    close(held[0]);
    delivers(0);  // while the other two are still taken
    close(held[1]);
    close(held[2]);
    delivers(1);
    delivers(2);
    vintor.drain(milliseconds(200));
    for (const auto& f : feeds) {
        EXPECT_EQ(count(vintor.output(), said(f.label, f.port, "Address already in use")), 1u) << vintor.output();
        EXPECT_EQ(count(vintor.output(), said(f.label, f.port, "bound at last")), 1u) << vintor.output();
    }
    EXPECT_TRUE(vintor.running());
}
