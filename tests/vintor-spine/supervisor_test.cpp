// The supervisor as a real process, with fake stages (fake_stages_main.cpp)
// because the real ones need radars and feeds; short passes; files in a
// temporary directory; the configuration service stand-in as a real process.
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "children.h"
#include "configfile.h"
#include "harness.h"
#include "sharedmem.h"
#include "stages.h"

using namespace testsupport;
using std::chrono::steady_clock;

namespace {

bool waitUntil(const std::function<bool()>& done, milliseconds timeout) {
    auto end = steady_clock::now() + timeout;
    while (steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return done();
}

// Running means present and not a zombie.
bool alive(pid_t pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool exists(pid_t pid) { return access(("/proc/" + std::to_string(pid)).c_str(), F_OK) == 0; }

off_t fileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

struct Start {
    std::string key;
    pid_t pid;
    int threadsAtFork;
    std::string probe;
};

class Supervisor : public ::testing::Test {
protected:
    void TearDown() override {
        if (sharedmem != nullptr) munmap(sharedmem, SHAREDMEM_FILE_SIZE);
        if (sharedmemFd >= 0) close(sharedmemFd);
        sharedmem = nullptr;
        sharedmemFd = -1;
        program_.reset();
        service_.reset();
        if (noticeHold_ >= 0) close(noticeHold_);
    }

    // A notice port on which nothing can publish: it stays bound here, so no
    // service of this or a parallel test can take it and end the tree under test.
    int quietNoticePort() {
        noticeHold_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (noticeHold_ < 0 || bind(noticeHold_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            getsockname(noticeHold_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return -1;
        return ntohs(addr.sin_port);
    }

    // Starts the stand-in with `sections` merged into a "vintor" section with
    // debug on, then the supervisor with fake stages; returns after the
    // shared-memory file exists and is mapped here.
    void start(const std::string& module, const std::string& radars, std::vector<std::string> env = {},
               long passMicros = 50000) {
        std::string config = "{\"vintor\": {\"vintor\": {\"debug\": \"1\"}, \"module\": {" + module + "}}" +
                             (radars.empty() ? "" : ", " + radars) + "}";
        writeFile(dir_.file("config.json"), config);
        ConfigServiceOptions o;
        o.config = dir_.file("config.json");
        int noticePort = quietNoticePort();
        ASSERT_GT(noticePort, 0);
        // Another test may take a port between the probe and the bind: try afresh.
        for (int attempt = 0; attempt < 3 && !service_; attempt++) {
            std::vector<int> ports = freePorts(2);
            o.repPort = ports[0];
            o.pubPort = ports[1];
            service_ = startConfigService(o);
        }
        ASSERT_TRUE(service_);
        repPort_ = o.repPort;
        env.push_back("SPINE_DIR=" + dir_.path());
        env.push_back("SPINE_WATCHDOG=" + dir_.file("watchdog"));
        env.push_back("SPINE_PASS_US=" + std::to_string(passMicros));
        env.push_back("SPINE_KILLALL_US=100000");
        env.push_back("SPINE_RESET_US=100000");
        Process::Options po;
        po.mergeStderr = true;
        po.environment = env;
        // No publisher on the notice port: these tests change the configuration without notices.
        program_ = std::make_unique<Process>(FAKE_STAGES_BIN,
                                             std::vector<std::string>{std::to_string(o.repPort),
                                                                      std::to_string(noticePort)},
                                             po);
        std::string shm = dir_.file("sharedmem");
        ASSERT_TRUE(waitUntil([&] { return fileSize(shm) == static_cast<off_t>(SHAREDMEM_FILE_SIZE); },
                              milliseconds(5000)));
        int fd = open(shm.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        void* map = mmap(nullptr, SHAREDMEM_FILE_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ASSERT_NE(map, MAP_FAILED);
        sharedmem = static_cast<sharedmem_st*>(map);
        sharedmemFd = fd;
    }

    void task(const std::string& text) {
        SharedMem mem(nullptr);
        mem.add("tasks", const_cast<char*>(text.c_str()), static_cast<unsigned>(text.size()));
    }

    std::vector<Start> starts() {
        std::vector<Start> out;
        std::istringstream in(readFile(dir_.file("started.log")));
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream f(line);
            Start s;
            f >> s.key >> s.pid >> s.threadsAtFork >> s.probe;
            out.push_back(s);
        }
        return out;
    }
    std::vector<Start> startsOf(const std::string& key) {
        std::vector<Start> out;
        for (const Start& s : starts())
            if (s.key == key) out.push_back(s);
        return out;
    }
    // Generous: a loaded machine slows the stages down, and waiting ends at the event.
    bool waitStarts(const std::string& key, size_t n, milliseconds timeout = milliseconds(30000)) {
        return waitUntil([&] { return startsOf(key).size() >= n; }, timeout);
    }
    // The supervisor's one lasting child that is not a stage (a shell it runs
    // to touch the watchdog comes and goes), or -1.
    pid_t noticeWatcher() {
        const std::string pid = std::to_string(program_->pid());
        std::vector<pid_t> others;
        waitUntil([&] {
            others.clear();
            std::vector<Start> all = starts();
            std::istringstream children(readFile("/proc/" + pid + "/task/" + pid + "/children"));
            for (pid_t child; children >> child;)
                if (std::none_of(all.begin(), all.end(), [&](const Start& s) { return s.pid == child; }))
                    others.push_back(child);
            return others.size() == 1;
        }, milliseconds(5000));
        EXPECT_EQ(others.size(), 1u) << ::testing::PrintToString(others);
        return others.size() == 1 ? others[0] : -1;
    }
    // Lets the supervisor make a few passes.
    void passes(int n) { std::this_thread::sleep_for(milliseconds(50 * n + 50)); }
    std::string output() {
        program_->drain(milliseconds(50));
        return program_->output();
    }

    TempDir dir_;
    int repPort_ = 0;
    int noticeHold_ = -1;
    std::unique_ptr<Process> service_;
    std::unique_ptr<Process> program_;
};

}  // namespace

TEST_F(Supervisor, UsageErrorForMissingArgumentsOrAPortOutOfRange) {
    // A port out of range is named first.
    const struct {
        std::vector<std::string> args;
        std::string named;
    } cases[] = {{{"5010"}, ""},
                 {{"0", "5011"}, "\"0\""},
                 {{"5010", "70000"}, "\"70000\""},
                 {{"abc", "5011"}, "\"abc\""},
                 {{"-1", "5011"}, "\"-1\""},
                 {{}, ""}};
    for (const auto& c : cases) {
        Process::Options po;
        po.mergeStderr = true;
        po.environment = {"SPINE_DIR=" + dir_.path()};
        Process p(FAKE_STAGES_BIN, c.args, po);
        ASSERT_TRUE(p.wait(milliseconds(5000)));
        p.drain(milliseconds(100));
        EXPECT_EQ(p.exitCode(), 1);
        EXPECT_EQ(p.output(), (c.named.empty() ? "" : "Error: " + c.named + " is not a port number (1-65535)\n") +
                                  "ERROR, No configport\nUse: vintorMain <configport> <subscriptionport>\n"
                                  " bv: vintorMain 5010 5011\n\n");
    }
    EXPECT_EQ(fileSize(dir_.file("sharedmem")), -1);

    // The title is cut to the length of the name the program was started by.
    ASSERT_EQ(symlink(FAKE_STAGES_BIN, dir_.file("v").c_str()), 0);
    Process::Options po;
    po.mergeStderr = true;
    po.workingDirectory = dir_.path();
    Process shortName("./v", {"5010"}, po);
    ASSERT_TRUE(shortName.wait(milliseconds(5000)));
    shortName.drain(milliseconds(100));
    EXPECT_EQ(shortName.output(), "ERROR, No configport\nUse: vin <configport> <subscriptionport>\n bv: vin 5010 5011\n\n");
}

TEST_F(Supervisor, QueuesStartTasksForSwitchedOnStagesInTableOrder) {
    void* map = nullptr;
    ASSERT_EQ(createSharedFile(dir_.file("sharedmem"), SHAREDMEM_FILE_SIZE, &map, &sharedmemFd), SharedFileResult::Ok);
    sharedmem = static_cast<sharedmem_st*>(map);
    ConfigFile cf(1, 2);
    for (const char* key : {"telnet", "fft", "udp"}) cf.setValue("module", key, 1);
    cf.setValue("module", "housekeeping", 0);
    SharedMem mem(&cf);
    mem.setIndex("tasks", 0);
    EXPECT_EQ(startProcesses(&cf, &mem, vintorStages()), 0);
    EXPECT_EQ(mem.getIndex("tasks"), 3);
    EXPECT_STREQ(sharedmem->tasks[1], "start udp");
    EXPECT_STREQ(sharedmem->tasks[2], "start fft");
    EXPECT_STREQ(sharedmem->tasks[3], "start telnet");
}

TEST_F(Supervisor, ForksStagesInTableOrderAndRestartsThoseThatEndOrCrash) {
    start("\"telnet\": \"1\", \"udp\": \"1\", \"fft\": \"1\", \"peak\": \"0\"", "",
          {"SPINE_FAKE_FFT=crash", "SPINE_FAKE_TELNET=exit"});
    ASSERT_TRUE(waitStarts("fft", 3));
    ASSERT_TRUE(waitStarts("telnet", 3));
    // The order of forking is the supervisor's own, in its output: the three
    // queued starts come first, one a pass, then the restarts. (Other
    // processes' lines may come between its lines, never inside one.)
    std::string out = output();
    std::vector<std::pair<size_t, std::string>> found;
    for (const char* name : {"UDP", "FFT", "Telnet"})
        for (size_t at = out.find(std::string(name) + " pid="); at != std::string::npos;
             at = out.find(std::string(name) + " pid=", at + 1))
            found.emplace_back(at, name);
    std::sort(found.begin(), found.end());
    std::vector<std::string> forks;
    for (const auto& f : found) forks.push_back(f.second);
    ASSERT_GE(forks.size(), 7u) << out;
    EXPECT_EQ(std::vector<std::string>(forks.begin(), forks.begin() + 3),
              (std::vector<std::string>{"UDP", "FFT", "Telnet"}));
    EXPECT_EQ(std::count(forks.begin(), forks.end(), "UDP"), 1);
    ASSERT_EQ(startsOf("udp").size(), 1u);
    EXPECT_TRUE(program_->running());

    EXPECT_NE(out.find("Error child Telnet class returned"), std::string::npos);
    // Still in the stage's buffer (no line end) when the stage returned.
    EXPECT_NE(out.find("\nStarting Telnet Class"), std::string::npos);
    EXPECT_NE(out.find("mainError: signal 11:"), std::string::npos);
    EXPECT_NE(out.find("Stopped fft pid:"), std::string::npos);
    EXPECT_EQ(out.find("\npid:"), std::string::npos) << "no stage was told to end";
}

TEST_F(Supervisor, AStageWithoutAnEntryPrintsALineEndsAndIsStartedAgain) {
    start("\"housekeeping\": \"1\"", "", {"SPINE_FAKE_HOUSEKEEPING=unbuilt"});
    const std::string line = "housekeeping stage is not built into this program\n";
    ASSERT_TRUE(waitUntil([&] { std::string o = output(); return o.find(line) != o.rfind(line); }, milliseconds(5000)));
    EXPECT_NE(output().find("Error child Housekeeping class returned"), std::string::npos);
    EXPECT_TRUE(startsOf("housekeeping").empty());
    EXPECT_TRUE(program_->running());
}

// A fork copies only the forking thread; a lock another thread held at that
// moment (the allocator's, say) would stay held in the stage for ever.
TEST_F(Supervisor, ForksEveryStageAndRestartWhileItRunsNoOtherThread) {
    start("\"udp\": \"1\", \"fft\": \"1\", \"peak\": \"1\"", "", {"SPINE_FAKE_PEAK=exit"});
    ASSERT_TRUE(waitStarts("peak", 4));
    ASSERT_TRUE(waitStarts("fft", 1));
    ASSERT_TRUE(waitStarts("udp", 1));
    for (const Start& s : starts()) EXPECT_EQ(s.threadsAtFork, 1) << s.key << " " << s.pid;
}

TEST_F(Supervisor, StopEndsOnlyThatStageAndStartNeverRunsASecondCopy) {
    start("\"fft\": \"1\", \"peak\": \"1\"", "", {"SPINE_FAKE_PEAK=exit"});
    ASSERT_TRUE(waitStarts("fft", 1));
    ASSERT_TRUE(waitStarts("peak", 2));
    pid_t fft = startsOf("fft")[0].pid;

    task("start fft");
    task("xstart fft");
    EXPECT_TRUE(waitUntil([&] { return output().find("NEW Tasks= xstart fft") != std::string::npos; },
                          milliseconds(5000)));
    passes(1);
    EXPECT_EQ(startsOf("fft").size(), 1u);
    EXPECT_NE(output().find("fft runs already"), std::string::npos);

    task("stop fft");
    ASSERT_TRUE(waitUntil([&] { return !exists(fft); }, milliseconds(3000))) << "stopped stage left as a zombie";
    size_t peaks = startsOf("peak").size();
    EXPECT_TRUE(waitStarts("peak", peaks + 2)) << "other stages must still be restarted";
    EXPECT_EQ(startsOf("fft").size(), 1u);

    task("start fft");
    EXPECT_TRUE(waitStarts("fft", 2));
}

TEST_F(Supervisor, SetChangesTheConfigurationOfStagesStartedLater) {
    start("\"udp\": \"1\"", "");
    ASSERT_TRUE(waitStarts("udp", 1));
    task("set vintor probe=12");
    task("set vintorprobe=13");
    task("set vintor probe13");
    task("start fft");
    ASSERT_TRUE(waitStarts("fft", 1));
    EXPECT_EQ(startsOf("fft")[0].probe, "12");
    EXPECT_TRUE(program_->running());
}

TEST_F(Supervisor, KillallEndsEveryStageAndTheSupervisorWithStatusZero) {
    start("\"udp\": \"1\", \"fft\": \"1\"", "");
    ASSERT_TRUE(waitStarts("udp", 1));
    ASSERT_TRUE(waitStarts("fft", 1));
    task("killall");
    ASSERT_TRUE(program_->wait(milliseconds(5000)));
    EXPECT_EQ(program_->exitCode(), 0);
    EXPECT_STREQ(sharedmem->radartasks[1], "killall");
    for (const Start& s : starts()) EXPECT_TRUE(waitUntil([&] { return !alive(s.pid); }, milliseconds(2000)));
}

TEST_F(Supervisor, ResetRestartsTheStagesAndCreatesTheFileOfANewlyActiveRadar) {
    start("\"udp\": \"1\"", "\"radar\": {\"active\": \"1\"}, \"radar2\": {\"active\": \"0\"}");
    ASSERT_TRUE(waitStarts("udp", 1));
    EXPECT_EQ(fileSize(dir_.file("sharedmemRadar0")), 604840);
    EXPECT_EQ(fileSize(dir_.file("sharedmemRadar1")), -1);
    pid_t first = startsOf("udp")[0].pid;

    std::string reply;
    ASSERT_TRUE(request("tcp://127.0.0.1:" + std::to_string(repPort_), "{\"set\":{\"radar2\":{\"active\":\"1\"}}}",
                        &reply));
    task("reset");
    ASSERT_TRUE(waitStarts("udp", 2));
    EXPECT_FALSE(exists(first)) << "killed stage must be reaped";
    EXPECT_EQ(fileSize(dir_.file("sharedmemRadar1")), 604840);
    EXPECT_STREQ(sharedmem->radartasks[1], "killall");
    EXPECT_TRUE(program_->running());
}

TEST_F(Supervisor, WatchdogIsTouchedOnTheFirstPassAndEvery31PassesWhateverTheTasks) {
    // The housekeeping stage ends at once: a restart task every other pass or so.
    // Passes are counted by the marks the test program writes as each one ends;
    // at every touch the supervisor lists its stages, the udp stage among them.
    start("\"udp\": \"1\", \"housekeeping\": \"1\"", "", {"SPINE_FAKE_HOUSEKEEPING=exit", "SPINE_MARK_PASSES=1"},
          20000);
    ASSERT_TRUE(waitStarts("udp", 1));
    const std::string touch = "PID: " + std::to_string(startsOf("udp")[0].pid) + " udp;";
    const std::string pass = "[pass]";
    // The nth touch, once the pass it came in has ended (its touch command has run).
    auto touched = [&](size_t n) {
        const std::string out = output();
        size_t at = std::string::npos;
        for (size_t i = 0; i < n; ++i) {
            at = out.find(touch, at + 1);
            if (at == std::string::npos) return false;
        }
        return out.find(pass, at) != std::string::npos;
    };
    ASSERT_TRUE(waitUntil([&] { return touched(1); }, milliseconds(30000))) << output();
    std::string wd = dir_.file("watchdog");
    EXPECT_GE(fileSize(wd), 0);
    ASSERT_EQ(unlink(wd.c_str()), 0);
    // A task of the test's own as well, and a touch after the pass that took it.
    task("set vintor probe=1");
    const std::string taken = "NEW Tasks= set vintor probe=1";
    ASSERT_TRUE(waitUntil([&] { return output().find(taken) != std::string::npos; }, milliseconds(30000)));
    auto between = [](const std::string& text, const std::string& what, size_t from, size_t to) {
        size_t n = 0;
        for (size_t at = text.find(what, from); at != std::string::npos && at < to; at = text.find(what, at + 1)) ++n;
        return n;
    };
    const std::string before = output();
    const size_t touchesBefore = between(before, touch, 0, before.find(taken));
    ASSERT_TRUE(waitUntil([&] { return touched(std::max<size_t>(touchesBefore + 1, 3)); }, milliseconds(60000)))
        << output();
    EXPECT_GE(fileSize(wd), 0);

    const std::string out = output();
    std::vector<size_t> touches;
    for (size_t at = out.find(touch); at != std::string::npos; at = out.find(touch, at + 1)) touches.push_back(at);
    EXPECT_LT(touches[0], out.find(taken));
    EXPECT_GT(touches.back(), out.find(taken));
    // The first pass: the first stage forked, the file touched, no pass ended yet.
    EXPECT_LT(out.find("UDP pid="), touches[0]);
    EXPECT_EQ(between(out, pass, 0, touches[0]), 0u);
    size_t restarts = 0;
    for (size_t k = 0; k + 1 < touches.size(); ++k) {
        EXPECT_EQ(between(out, pass, touches[k], touches[k + 1]), 31u) << "between touch " << k << " and the next";
        restarts += between(out, "NEW Tasks= start housekeeping", touches[k], touches[k + 1]);
    }
    EXPECT_GE(restarts, 1u) << out;
}

TEST_F(Supervisor, RunsWhenItsStarterLeftChildSignalsIgnored) {
    // SIG_IGN survives fork and exec: the supervisor is started with it.
    struct IgnoreChildSignals {
        IgnoreChildSignals() { signal(SIGCHLD, SIG_IGN); }
        ~IgnoreChildSignals() { signal(SIGCHLD, SIG_DFL); }
    };
    {
        IgnoreChildSignals ignore;
        start("\"housekeeping\": \"1\"", "", {"SPINE_FAKE_HOUSEKEEPING=exit"});
    }
    EXPECT_TRUE(waitStarts("housekeeping", 3)) << "ended stages are reaped and restarted";
    EXPECT_GE(fileSize(dir_.file("watchdog")), 0);
    EXPECT_TRUE(program_->running()) << output();
}

TEST_F(Supervisor, ACrashEndsTheTreeEvenWhenItsStarterBlockedTheSignals) {
    // A blocked signal survives fork and exec: the supervisor is started with both.
    sigset_t blocked, old;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGSEGV);
    pthread_sigmask(SIG_BLOCK, &blocked, &old);
    // Passes of a second: the watchdog, touched in the first, is touched again 31 s later.
    start("\"udp\": \"1\"", "", {"SPINE_MARK_PASSES=1"}, 1000000);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ASSERT_TRUE(waitStarts("udp", 1));
    // The signal comes in the sleep that ends the first pass, once its touch
    // command has been started and waited for: while the C library starts a
    // command it blocks every signal, and there the emulator ends a process on
    // a SIGSEGV that a kernel keeps pending.
    ASSERT_TRUE(waitUntil([&] { return output().find("[pass]") != std::string::npos; }, milliseconds(30000)));
    program_->signal(SIGSEGV);
    ASSERT_TRUE(program_->wait(milliseconds(5000)));
    EXPECT_EQ(program_->exitCode(), 1);
    pid_t udp = startsOf("udp")[0].pid;
    EXPECT_TRUE(waitUntil([&] { return !alive(udp); }, milliseconds(2000)));
    EXPECT_NE(output().find("\npid:" + std::to_string(udp) + " received SIGUSR1\n"), std::string::npos);
}

TEST_F(Supervisor, ACrashOfTheSupervisorEndsItsStagesFirst) {
    start("\"udp\": \"1\", \"fft\": \"1\"", "");
    ASSERT_TRUE(waitStarts("udp", 1));
    ASSERT_TRUE(waitStarts("fft", 1));
    program_->signal(SIGSEGV);
    ASSERT_TRUE(program_->wait(milliseconds(5000)));
    EXPECT_EQ(program_->exitCode(), 1);
    std::string out = output();
    EXPECT_NE(out.find("mainError: signal 11:"), std::string::npos);
    for (const Start& s : starts()) {
        EXPECT_TRUE(waitUntil([&] { return !alive(s.pid); }, milliseconds(2000))) << s.key;
        EXPECT_NE(out.find("\npid:" + std::to_string(s.pid) + " received SIGUSR1\n"), std::string::npos) << s.key;
    }
}

// The change notices are watched by a process of the tree's own; should it end,
// the tree could no longer follow the configuration: it ends, with status 3.
TEST_F(Supervisor, TheTreeEndsWithStatusThreeWhenItsNoticeWatcherEnds) {
    start("\"udp\": \"1\"", "");
    ASSERT_TRUE(waitStarts("udp", 1));
    pid_t watcher = noticeWatcher();
    ASSERT_GT(watcher, 0);
    kill(watcher, SIGKILL);
    ASSERT_TRUE(program_->wait(milliseconds(30000)));
    EXPECT_EQ(program_->exitCode(), 3);
    pid_t udp = startsOf("udp")[0].pid;
    EXPECT_TRUE(waitUntil([&] { return !alive(udp); }, milliseconds(5000)));
}

// The emulator shows its own command line in /proc/<pid>/cmdline, not the
// title a process gives itself.
TEST_F(Supervisor, TitlesItsStagesAndItsNoticeWatcher) {
    start("\"udp\": \"1\"", "");
    ASSERT_TRUE(waitStarts("udp", 1));
    const struct {
        pid_t pid;
        std::string title;
    } titled[] = {{startsOf("udp")[0].pid, std::string("vintorUDP\0", 10)},
                  {noticeWatcher(), std::string("vintorNotice\0", 13)}};
    for (const auto& t : titled)
        EXPECT_EQ(readFile("/proc/" + std::to_string(t.pid) + "/cmdline").substr(0, t.title.size()), t.title);
}

TEST(TaskWords, AStageIsNamedByTheWholeWordBehindTheVerb) {
    const struct {
        const char* task;
        const char* verb;
        const char* name;
        bool names;
    } cases[] = {
        {"start fft", "start", "fft", true},       {"start  fft\r\n", "start", "fft", true},
        {"stop peak now", "stop", "peak", true},   {"start fftx", "start", "fft", false},
        {"start ff", "start", "fft", false},       {"xstart fft", "start", "fft", false},
        {" start fft", "start", "fft", false},     {"stop", "stop", "peak", false},
        {"start fft", "stop", "fft", false},       {"startfft", "start", "fft", false},
    };
    for (const auto& c : cases) EXPECT_EQ(taskNames(c.task, c.verb, c.name), c.names) << c.task;
}
