// Every program that forks, in a private namespace on its fixed ports: stopped
// by SIGTERM as a service manager does, then killed by SIGKILL as the
// out-of-memory killer does. Each time nothing of its process tree may be left
// after 3 s, and the program started again at once must do its job (its
// publisher bound by the new tree, its child work running again).
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "boardtest.h"
#include "gpiotree.h"
#include "harness.h"
#include "processes.h"

using namespace testsupport;

namespace {

struct Proc {
    pid_t ppid;
    std::string name;
};

// Live processes of the namespace (zombies aside).
std::map<pid_t, Proc> liveProcesses()
{
    std::map<pid_t, Proc> all;
    DIR* proc = opendir("/proc");
    for (dirent* e; proc != nullptr && (e = readdir(proc)) != nullptr;) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        // A process may end between the listing and the read: its text is then empty.
        const std::string stat = readFile(std::string("/proc/") + e->d_name + "/stat");
        size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string state;
        pid_t ppid = 0;
        if (rest >> state >> ppid && state != "Z")
            all[atoi(e->d_name)] = {ppid, stat.substr(open + 1, close - open - 1)};
    }
    if (proc != nullptr)
        closedir(proc);
    return all;
}

// The process and all its live descendants.
std::vector<pid_t> treeOf(pid_t root)
{
    std::map<pid_t, Proc> all = liveProcesses();
    std::vector<pid_t> tree;
    if (all.count(root) != 0)
        tree.push_back(root);
    for (size_t i = 0; i < tree.size(); i++)
        for (const auto& p : all)
            if (p.second.ppid == tree[i])
                tree.push_back(p.first);
    return tree;
}

bool hasNamed(const std::vector<pid_t>& tree, const std::string& name)
{
    std::map<pid_t, Proc> all = liveProcesses();
    for (pid_t p : tree)
        if (all.count(p) != 0 && all[p].name == name)
            return true;
    return false;
}

// True when one of the processes listens on the TCP port.
bool listensOn(const std::vector<pid_t>& tree, int port)
{
    std::set<std::string> sockets;
    for (pid_t p : tree) {
        const std::string dir = "/proc/" + std::to_string(p) + "/fd";
        DIR* fds = opendir(dir.c_str());
        for (dirent* e; fds != nullptr && (e = readdir(fds)) != nullptr;) {
            char target[64] = {};
            if (readlink((dir + "/" + e->d_name).c_str(), target, sizeof target - 1) > 0 &&
                strncmp(target, "socket:[", 8) == 0)
                sockets.insert(std::string(target + 8, strcspn(target + 8, "]")));
        }
        if (fds != nullptr)
            closedir(fds);
    }
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);
        while (std::getline(in, line)) {
            std::istringstream f(line);
            std::string sl, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            f >> sl >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
            const size_t colon = local.rfind(':');
            if (state == "0A" && colon != std::string::npos && strtol(local.c_str() + colon + 1, nullptr, 16) == port &&
                sockets.count(inode) != 0)
                return true;
        }
    }
    return false;
}

std::vector<pid_t> stillLive(const std::vector<pid_t>& pids)
{
    std::map<pid_t, Proc> all = liveProcesses();
    std::vector<pid_t> left;
    for (pid_t p : pids)
        if (all.count(p) != 0)
            left.push_back(p);
    return left;
}

std::string describe(const std::vector<pid_t>& pids)
{
    std::map<pid_t, Proc> all = liveProcesses();
    std::string out;
    for (pid_t p : pids)
        out += std::to_string(p) + "(" + all[p].name + ") ";
    return out;
}

std::string fir101()
{
    std::string taps;
    for (int i = 0; i < 101; i++)
        taps += i == 50 ? "1\n" : "0\n";
    return taps;
}

const std::string LAUNCHER_DIR = "/tmp/script-launcher";

struct Row {
    std::string name; // the supervisor's process name
    std::string program;
    std::vector<std::string> args;
    bool daemon;         // the program leaves its supervisor as a daemon and ends
    size_t processes;    // of a working tree, supervisor included
    int port;            // bound by a working tree; 0: none
    std::string working; // a process of that name runs in a working tree; empty: none
    std::function<void()> work; // gives a freshly started tree its work
    std::string done;           // a file the tree removes when its work ends, cut short or not
};

TEST(ProcessTrees, EndWithTheirProgramHoweverItEndsAndStartAgainAtOnce)
{
    ASSERT_TRUE(gpiotree::isPrivate()) << "needs ns-run --sysfs-gpio";
    TempDir d;
    writeFile(d.file("fir.txt"), fir101());
    const std::string config = R"({"configurator":{"publishers":{"alert":"5011"}},
      "heave-smoother":{"publishers":{"fastport":"5051"},"subscribe":"127.0.0.1:5080","filterFilename":")" +
                               d.file("fir.txt") + R"("},
      "heading-adjust":{"subscribers":{"a":"127.0.0.1:6201"},"publishers":{"a":"6301"}},
      "vintor-dir":{"Configuration":{"sel":"S1"}},
      "unit-relay":{"subscribers":{"a":{"port":"6001","serialSelector":"sel"}},"publishers":{"a":"6101"}},
      "drift-mean":{"subscriberURI":"tcp://127.0.0.1:6701","publishers":{"Vdup":"6702"}},
      "general":{"speed":"200"},"radar":{"timeoffset":"0","sweepsize":"512"},
      "tarnix-pic32":{"publishers":{"rawdata-pub":"5020"},"detectUSBDevice":")" FIND_USB_SCRIPT R"("},
      "button":{"gpio":"17","short":"sleep 600","long-pressed":"","long-released":""}})";
    auto service = startConfigServiceWith(d, config, R"({"Radars":{"S1":{"ip":"127.0.0.1"}}})");
    ASSERT_TRUE(service);
    boardtest::Sim board(d, {"-p", "200", "-s", "2"}, "/tmp/board-sim.tty");
    ASSERT_TRUE(board.ready);

    // The button: GPIO 17 of the private tree; a press of 10 polls runs the
    // short command, which holds the handler while it runs.
    writeFile(gpiotree::ROOT + "/export", "");
    writeFile(gpiotree::ROOT + "/unexport", "");
    mkdir(gpiotree::line(17).c_str(), 0755);
    writeFile(gpiotree::line(17) + "/direction", "");
    writeFile(gpiotree::line(17) + "/active_low", "");
    gpiotree::Fifo level(gpiotree::line(17) + "/value");
    ASSERT_TRUE(level.ok());
    mkdir(LAUNCHER_DIR.c_str(), 0777);

    const Row rows[] = {
        {"heave-smoother", HEAVE_SMOOTHER_BIN, {"-q"}, false, 2, 5051, "", nullptr, ""},
        {"heading-adjust", HEADING_ADJUST_BIN, {}, false, 3, 6301, "", nullptr, ""},
        {"unit-relay", UNIT_RELAY_BIN, {"-q"}, false, 3, 6101, "", nullptr, ""},
        {"drift-mean", DRIFT_MEAN_BIN, {"-q"}, false, 2, 6702, "", nullptr, ""},
        {"tarnix-pic32", TARNIX_BIN, {"-d"}, true, 1, 5020, "", nullptr, ""},
        {"tarnix-pic32", TARNIX_BIN, {"-q"}, false, 1, 5020, "", nullptr, ""},
        {"script-launcher", SCRIPT_LAUNCHER_BIN, {"-q"}, false, 3, 0, "sleep",
         [] { writeFile(LAUNCHER_DIR + "/hold.sh", "sleep 600\n"); }, LAUNCHER_DIR + "/hold.sh"},
        {"button-handler", BUTTON_HANDLER_BIN, {"-q"}, false, 2, 0, "sleep",
         [&] { level.put("0" + std::string(10, '1') + "0"); }, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::unique_ptr<Process> program;
        // Ended programs are kept: their destructors would kill their groups,
        // and with them whatever the program left behind.
        std::vector<std::unique_ptr<Process>> ended;
        pid_t supervisor = -1;
        std::vector<pid_t> tree;
        // Starts the program and waits until its tree does its job.
        auto start = [&]() -> bool {
            Process::Options o;
            o.mergeStderr = true;
            if (program)
                ended.push_back(std::move(program));
            program.reset(new Process(r.program, r.args, o));
            supervisor = program->pid();
            if (r.daemon) {
                if (!program->wait(milliseconds(20000)) || program->exitCode() != 0)
                    return false;
                supervisor = -1;
                for (int i = 0; i < 400 && supervisor < 0; i++) {
                    std::vector<pid_t> named = processesNamed(r.name);
                    if (!named.empty())
                        supervisor = named[0];
                    else
                        std::this_thread::sleep_for(milliseconds(50));
                }
                if (supervisor <= 0)
                    return false;
            }
            if (r.work)
                r.work();
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (std::chrono::steady_clock::now() < deadline) {
                tree = treeOf(supervisor);
                if (tree.size() >= r.processes && (r.port == 0 || listensOn(tree, r.port)) &&
                    (r.working.empty() || hasNamed(tree, r.working)))
                    return true;
                std::this_thread::sleep_for(milliseconds(50));
            }
            program->drain(milliseconds(100));
            ADD_FAILURE() << "never worked; tree " << describe(tree) << "; printed:\n" << program->output();
            return false;
        };
        ASSERT_TRUE(start());
        for (int sig : {SIGTERM, SIGKILL}) {
            SCOPED_TRACE(sig == SIGTERM ? "SIGTERM" : "SIGKILL");
            tree = treeOf(supervisor);
            ASSERT_EQ(kill(supervisor, sig), 0);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
            while (!stillLive(tree).empty() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(milliseconds(20));
            EXPECT_EQ(describe(stillLive(tree)), "") << "left of the tree 3 s after the end";
            if (!r.done.empty()) {
                EXPECT_NE(access(r.done.c_str(), F_OK), 0) << "a script cut short would run again at every start";
            }
            if (!r.daemon) {
                ASSERT_TRUE(program->wait(milliseconds(5000)));
                if (sig == SIGTERM) {
                    EXPECT_EQ(program->exitCode(), 0) << program->output();
                }
            }
            const std::vector<pid_t> left = stillLive(tree);
            const bool restarted = start();
            for (pid_t p : left)
                kill(p, SIGKILL); // so that the next cases start clean
            ASSERT_TRUE(restarted) << "the program started again at once";
        }
        if (supervisor > 0)
            kill(supervisor, SIGTERM);
        if (!r.daemon)
            program->wait(milliseconds(5000));
        for (int i = 0; i < 100 && !stillLive(tree).empty(); i++)
            std::this_thread::sleep_for(milliseconds(50));
    }
}

// A publisher port that another process holds: the program that cannot do its
// job without it ends with a message naming the endpoint and a non-zero
// status; the relays that start their workers again keep trying, and say why.
TEST(ProcessTrees, APublisherPortThatIsTakenIsNamed)
{
    TempDir d;
    writeFile(d.file("fir.txt"), fir101());
    auto service = startConfigServiceWith(d, R"({"configurator":{"publishers":{"alert":"5011"}},
      "heave-smoother":{"publishers":{"fastport":"5051"},"subscribe":"127.0.0.1:5080","filterFilename":")" +
                                                 d.file("fir.txt") + R"("},
      "heading-adjust":{"subscribers":{"a":"127.0.0.1:6201"},"publishers":{"a":"6301"}},
      "drift-mean":{"subscriberURI":"tcp://127.0.0.1:6701","publishers":{"Vdup":"6702"}}})");
    ASSERT_TRUE(service);
    struct {
        std::string program;
        std::vector<std::string> args;
        int port;
        std::string message;
        int code; // -1: keeps running
    } cases[] = {
        {HEAVE_SMOOTHER_BIN, {"-q"}, 5051, "Cannot bind publisher tcp://*:5051: Address already in use", 1},
        {DRIFT_MEAN_BIN, {"-q"}, 6702, "drift-mean publisher tcp://*:6702: Address already in use", 1},
        {HEADING_ADJUST_BIN, {}, 6301, "heading-adjust publisher tcp://*:6301: Address already in use", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        zmq::context_t context(1);
        zmq::socket_t holder(context, zmq::socket_type::pub);
        holder.bind("tcp://*:" + std::to_string(c.port));
        Process::Options o;
        o.mergeStderr = true;
        Process program(c.program, c.args, o);
        EXPECT_TRUE(program.waitForLine(c.message, milliseconds(20000))) << program.output();
        if (c.code >= 0) {
            ASSERT_TRUE(program.wait(milliseconds(15000)));
            EXPECT_EQ(program.exitCode(), c.code);
        } else {
            EXPECT_TRUE(program.running());
            program.signal(SIGTERM);
            ASSERT_TRUE(program.wait(milliseconds(15000)));
        }
    }
}

} // namespace
