#include "supervisor.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zmq.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "children.h"
#include "configfile.h"
#include "defaults.h"
#include "handler.h"
#include "misc.h"
#include "numbers.h"
#include "publisherbind.h"
#include "sharedmem.h"
#include "timer.h"

namespace {

// Set once the supervisor leads its own process group, so that signalling the
// group reaches only its own tree.
volatile sig_atomic_t ownGroup = 0;
pid_t supervisorPid = 0;

// Before the supervisor ends on a fatal error its stages are told to end (with
// status 0, as on a change notice), so that none runs on without a supervisor.
void stopGroup() {
    if (!ownGroup) return;
    signal(SIGUSR1, SIG_IGN);
    kill(0, SIGUSR1);
}

// Also catches exits taken inside shared code, such as the configuration
// client's status 3; stages inherit the registration, so it checks the pid.
void endTreeAtExit() {
    if (getpid() == supervisorPid) stopGroup();
}

[[noreturn]] void fatalExit(int status) {
    fflush(stdout);
    stopGroup();
    exit(status);
}

[[noreturn]] void fatalError(const char* msg) {
    perror(msg);
    fatalExit(1);
}

void supervisorSegv(int sig) {
    stopGroup();
    handler(sig);
}

// Ends any process of the tree on a change notice. Only write(2) and _exit:
// the interrupted code may hold stdio or messaging locks.
void signal_handler(int) {
    char line[64] = "\npid:";
    size_t pos = strlen(line);
    char digits[16];
    int n = 0;
    long pid = getpid();
    do {
        digits[n++] = static_cast<char>('0' + pid % 10);
        pid /= 10;
    } while (pid > 0 && n < 15);
    while (n > 0) line[pos++] = digits[--n];
    const char tail[] = " received SIGUSR1\n";
    memcpy(line + pos, tail, sizeof tail - 1);
    pos += sizeof tail - 1;
    ssize_t ignored = write(STDOUT_FILENO, line, pos);
    (void)ignored;
    _exit(0);
}

// A service manager's stop (SIGTERM) ends the tree as a change notice does:
// every process of the group, this one included, ends with status 0. Before
// the supervisor leads a group of its own it has forked nothing, and simply ends.
void term_handler(int) {
    if (ownGroup) {
        kill(0, SIGUSR1);
        // The signal ends this process too; should it be held back, end anyway.
    }
    _exit(0);
}

// A stage that returned ends as through error(), without exit()'s run through
// every library's destructors: the housekeeping stage returns at once and is
// forked again every other second, and that run cost more than the fork.
[[noreturn]] void endStage(const char* failure) {
    perror(failure);
    fflush(nullptr);
    _exit(1);
}

[[noreturn]] void cannotWatch(const char* call) {
    perror(call);
    _exit(1);
}

// The notice watcher: one SUB socket on tcp://localhost:<port> (a context of
// one I/O thread, room for 1023 sockets), topics "vintor" and "radar". Writes a
// byte to `ready` once subscribed; on any notice it ends the whole process
// group, itself included. Ends with status 1 when it cannot subscribe and 3
// when a receive fails, which the supervisor takes as its own.
[[noreturn]] void watchNotices(int port, int debug, int ready) {
    setProcessTitle("vintorNotice");
    // A crash ends the watcher alone; the supervisor then ends the tree.
    signal(SIGSEGV, handler);
    void* ctx = zmq_ctx_new();
    if (ctx == nullptr) cannotWatch("zmq_ctx_new");
    zmq_ctx_set(ctx, ZMQ_IO_THREADS, 1);
    zmq_ctx_set(ctx, ZMQ_MAX_SOCKETS, 1023);
    void* sub = zmq_socket(ctx, ZMQ_SUB);
    if (sub == nullptr) cannotWatch("zmq_socket");
    char endpoint[64];
    snprintf(endpoint, sizeof endpoint, "tcp://localhost:%d", port);
    if (zmq_connect(sub, endpoint) != 0) cannotWatch("zmq_connect");
    if (zmq_setsockopt(sub, ZMQ_SUBSCRIBE, "vintor", 6) != 0 || zmq_setsockopt(sub, ZMQ_SUBSCRIBE, "radar", 5) != 0)
        cannotWatch("zmq_setsockopt");
    const char byte = 1;
    ssize_t ignored = write(ready, &byte, 1);
    (void)ignored;
    close(ready);

    zmq_msg_t msg;
    zmq_msg_init(&msg);
    while (zmq_msg_recv(&msg, sub, 0) < 0) {
        if (errno == EINTR) continue;
        perror("notice receive");
        _exit(3);
    }
    if (debug) {
        printf("Subscriber received:");
        fwrite(zmq_msg_data(&msg), 1, zmq_msg_size(&msg), stdout);
        printf("\n");
    }
    fflush(stdout);
    fflush(stderr);
    if (!ownGroup) _exit(0);  // the supervisor ends the tree
    kill(0, SIGUSR1);
    // The signal ends this process too; wait for it.
    for (;;) pause();
}

// Read with strtol, as the command line always was; a number that is no port
// is named before the usage text.
bool parsePort(const char* text, int* port) {
    *port = leadingPortNumber(text);
    if (*port == 0) fprintf(stderr, "Error: \"%s\" is %s\n", text, NOT_A_PORT);
    return *port != 0;
}

[[noreturn]] void usage(const char* program) {
    fprintf(stderr, "ERROR, No configport\n");
    fprintf(stderr, "Use: %s <configport> <subscriptionport>\n", program);
    fprintf(stderr, " bv: %s 5010 5011\n", program);
    fprintf(stderr, "\n");
    exit(1);
}

class Supervisor {
public:
    Supervisor(const StageTable& stages, const SupervisorSettings& settings, int configport, int subscriptionport)
        : stages_(stages), s_(settings), cf_(configport, subscriptionport), subscriptionport_(subscriptionport) {}

    int run();

private:
    void* createFile(const std::string& name, size_t size, const std::string& writeFailure, int* fd,
                     bool exclusive = false);
    void createFiles();
    void mapRadarFiles();
    void startNoticeWatcher();
    void checkNoticeWatcher();
    bool handleTask(const std::string& task);  // false: the program ends
    void killall(const std::string& task);
    void reset();
    void setTask(const std::string& task);
    void stopTask(const std::string& task);
    void startTask(const std::string& task);
    void startStage(const StageRow& row);
    void reap();
    void watchdog();
    ChildList::Entries::iterator stopChild(ChildList::Entries::iterator it);

    const StageTable& stages_;
    const SupervisorSettings& s_;
    ConfigFile cf_;
    int subscriptionport_;
    int debug_ = 0;
    ChildList children_;
    SharedMem* storage_ = nullptr;
    pid_t watcher_ = -1;
    int passes_ = 0;
};

// Ends the program when the file cannot be made: perror(writeFailure) when it
// cannot be written, a line with its name and errno when it cannot be mapped,
// and status 1 with the file left as it is when another vintor holds it.
void* Supervisor::createFile(const std::string& name, size_t size, const std::string& writeFailure, int* fd,
                             bool exclusive) {
    void* map = nullptr;
    const std::string path = s_.sharedDir + "/" + name;
    switch (createSharedFile(path, size, &map, fd, exclusive)) {
    case SharedFileResult::InUse:
        fprintf(stderr, "ERROR: vintor is already running: %s is in use\n", path.c_str());
        fatalExit(1);
    case SharedFileResult::WriteFailed:
        fatalError(writeFailure.c_str());
    case SharedFileResult::MapFailed:
        printf("\nERROR: %s %d\n", name.c_str(), errno);
        fatalExit(1);
    case SharedFileResult::Ok:
        break;
    }
    return map;
}

void Supervisor::createFiles() {
    // Locked before anything is truncated: a second vintor must not zero the
    // rings under a running one. The lock is the supervisor's own: no stage
    // inherits it, so it ends with the supervisor however that ends, and the
    // stages end with it.
    sharedmem = static_cast<sharedmem_st*>(
        createFile("sharedmem", SHAREDMEM_FILE_SIZE, "sharedmem", &sharedmemFd, true));
    mapRadarFiles();
}

// Creates the file of every active radar that has none yet; existing files are
// left alone, so a reset only adds the radars that have become active.
void Supervisor::mapRadarFiles() {
    sharedmemRadar_st** radars[3] = {&sharedmemRadar0, &sharedmemRadar1, &sharedmemRadar2};
    for (int i = 0; i < 3; ++i) {
        std::string section = "radar" + std::to_string(i);
        if (!cf_.SectionExists(section) || cf_.ValueInt(section, "active") == 0 || *radars[i] != nullptr)
            continue;
        int fd = -1;
        void* map = createFile("sharedmemRadar" + std::to_string(i), SHAREDMEM_RADAR_FILE_SIZE,
                               "error sharedmem R" + std::to_string(i), &fd);
        *radars[i] = static_cast<sharedmemRadar_st*>(map);
    }
}

// The notice feed is watched by a process of its own, forked before the
// supervisor's loop while the supervisor has no other thread, and it holds the
// one subscription for the life of the tree. So the supervisor itself never runs
// a messaging thread: its forks copy no lock such a thread might hold (in the
// allocator, say), and no fork has to close the subscription, in which time a
// notice would be lost.
void Supervisor::startNoticeWatcher() {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) fatalError("pipe");
    fflush(stdout);
    fflush(stderr);
    watcher_ = childtree::forkTied(kEndWithParent);
    if (watcher_ < 0) fatalError("ERROR on fork");
    if (watcher_ == 0) {
        signal(SIGTERM, SIG_DFL);
        close(ready[0]);
        watchNotices(subscriptionport_, debug_, ready[1]);
    }
    close(ready[1]);
    char byte = 0;
    ssize_t n;
    while ((n = read(ready[0], &byte, 1)) < 0 && errno == EINTR) {
    }
    close(ready[0]);
    if (n == 1) return;
    // The watcher could not subscribe; it said why.
    int status = 0;
    while (waitpid(watcher_, &status, 0) < 0 && errno == EINTR) {
    }
    fatalExit(WIFEXITED(status) && WEXITSTATUS(status) != 0 ? WEXITSTATUS(status) : 1);
}

// A watcher that ends has lost the feed (its receive failed, or someone ended
// it): the tree cannot follow the configuration any more and ends with it.
void Supervisor::checkNoticeWatcher() {
    int status = 0;
    pid_t r;
    while ((r = waitpid(watcher_, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (r == 0) return;
    if (r < 0) {
        perror("waitpid");
        fatalExit(122);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        // A notice, where the tree is not a process group of its own.
        fflush(stdout);
        for (const pidlist_st& c : children_.entries()) kill(c.pid, SIGUSR1);
        raise(SIGUSR1);
        for (;;) pause();
    }
    fatalExit(WIFEXITED(status) ? WEXITSTATUS(status) : 3);
}

ChildList::Entries::iterator Supervisor::stopChild(ChildList::Entries::iterator it) {
    const pidlist_st child = *it;
    it = children_.stop(it);
    if (debug_) printf("\nStopping %s pid:%d ", child.name, child.pid);
    return it;
}

void Supervisor::killall(const std::string& task) {
    storage_->add("radartasks", const_cast<char*>(task.c_str()), static_cast<unsigned>(task.size()));
    uSleep(s_.killallMicros);
    for (const pidlist_st& c : children_.entries()) {
        if (debug_) printf("\nStopping %s pid:%d ", c.name, c.pid);
        kill(c.pid, SIGKILL);
    }
    fflush(stdout);
    // Processes the stages forked themselves (radars, telnet connections) and
    // the notice watcher end too.
    stopGroup();
}

void Supervisor::reset() {
    storage_->add("radartasks", const_cast<char*>("killall"), 7);
    uSleep(s_.killallMicros);
    for (auto it = children_.entries().begin(); it != children_.entries().end();) it = stopChild(it);
    if (debug_) printf("\nWaiting");
    fflush(stdout);
    uSleep(s_.resetMicros);
    cf_.readConfig();
    mapRadarFiles();
    startProcesses(&cf_, storage_, stages_);
}

void Supervisor::setTask(const std::string& task) {
    std::string rest = task.substr(4);
    size_t blank = rest.find(' ');
    size_t eq = blank == std::string::npos ? std::string::npos : rest.find('=', blank + 1);
    if (eq == std::string::npos) {
        if (debug_) printf("\nIgnoring malformed task: %s", task.c_str());
        return;
    }
    cf_.setValue(rest.substr(0, blank), rest.substr(blank + 1, eq - blank - 1), rest.substr(eq + 1));
}

// The stopped stage leaves the list, so it is not restarted; it is reaped here
// so that no zombie is left. Other stages that end are still restarted.
void Supervisor::stopTask(const std::string& task) {
    for (auto it = children_.entries().begin(); it != children_.entries().end(); ++it) {
        if (taskNames(task, "stop", it->name)) {
            stopChild(it);
            return;
        }
    }
}

void Supervisor::startTask(const std::string& task) {
    for (const StageRow& row : stages_) {
        if (!taskNames(task, "start", row.key)) continue;
        // A second process would be a second writer of a single-writer ring.
        if (children_.has(row.key)) {
            if (debug_) printf("\n%s runs already", row.key);
            continue;
        }
        startStage(row);
    }
}

void Supervisor::startStage(const StageRow& row) {
    const pid_t pid = children_.start(row.key, row.title);
    if (pid < 0) fatalError("ERROR on fork");
    if (pid == 0) {
        // A crashing or stopped stage ends alone (and is restarted); only the
        // supervisor's crash or stop ends the tree.
        signal(SIGSEGV, handler);
        signal(SIGTERM, SIG_DFL);
        if (debug_) printf("%s", row.startLine);
        if (row.entry != nullptr) {
            row.entry(&cf_);
        } else {
            printf("\n%s stage is not built into this program\n", row.key);
            fflush(stdout);
        }
        endStage(row.failure);
    }
    if (debug_) printf(row.pidLine, static_cast<int>(pid));
}

bool Supervisor::handleTask(const std::string& task) {
    if (task.find("writeconfig") != std::string::npos) cf_.writeConfig();
    if (task.find("killall") != std::string::npos) {
        killall(task);
        return false;
    }
    if (task.compare(0, 5, "reset") == 0) reset();
    if (task.compare(0, 4, "set ") == 0) setTask(task);
    if (task.compare(0, 5, "stop ") == 0) stopTask(task);
    if (task.compare(0, 6, "start ") == 0) startTask(task);
    return true;
}

void Supervisor::reap() {
    for (auto it = children_.entries().begin(); it != children_.entries().end(); ++it) {
        const pid_t r = ChildList::ended(*it);
        if (r == 0) continue;
        if (r < 0) {
            perror("waitpid");
            fatalExit(122);
        }
        if (debug_) printf("\nStopped %s pid:%d ", it->name, it->pid);
        std::string task = std::string("start ") + it->name;
        children_.forget(it);
        storage_->add("Tasks", const_cast<char*>(task.c_str()), static_cast<unsigned>(task.size()));
        if (debug_) printf("%s", task.c_str());
        return;
    }
}

// Counted apart from the tasks, so that a stream of restarts cannot postpone it.
void Supervisor::watchdog() {
    if (++passes_ <= 30) return;
    if (debug_) {
        for (const pidlist_st& c : children_.entries()) printMemoryUse(c);
    }
    fflush(stdout);
    std::string command = "/bin/touch " + s_.watchdogFile;
    if (system(command.c_str()) == -1) fatalError("error touch watchdogvintor");
    passes_ = 0;
}

int Supervisor::run() {
    printf("DEF_sweepSpeed_DEF_baseFrequency %f\n", DEF_sweepSpeed_DEF_baseFrequency);
    printf("DEF_deltaF %f\n", DEF_deltaF);
    printf("DEF_sampleFrequency %f\n", DEF_sampleFrequency);
    printf("DEF_SweepTime %f\n", DEF_SweepTime);
    printf("DEF_speedOfLight %f\n", DEF_speedOfLight);
    printf("DEF_sweepSpeed %f\n", DEF_sweepSpeed);

    cf_.readConfig();
    createFiles();
    debug_ = cf_.ValueInt("vintor", "debug");

    SharedMem storage(&cf_);
    storage_ = &storage;
    storage.setIndex("tasks", 0);
    startProcesses(&cf_, &storage, stages_);
    // The first pass touches the watchdog.
    passes_ = 30;

    int last = 0;
    signal(SIGUSR1, signal_handler);
    setpgid(0, 0);
    ownGroup = getpgrp() == getpid();
    supervisorPid = getpid();
    atexit(endTreeAtExit);
    startNoticeWatcher();

    char buffer[TEXT_SLOT_SIZE];
    for (;;) {
        checkNoticeWatcher();

        unsigned int length = 0;
        int slot = storage.getNext("Tasks", last, buffer, &length);
        if (slot != -1) {
            buffer[length < sizeof buffer ? length : sizeof buffer - 1] = '\0';
            std::string task(buffer);
            if (debug_) printf("\nNEW Tasks= %s", task.c_str());
            last = slot;
            if (!handleTask(task)) return 0;
        }

        reap();
        watchdog();
        fflush(stdout);
        uSleep(s_.passMicros);
    }
}

}  // namespace

int startProcesses(ConfigFile* cf, SharedMem* storage, const StageTable& stages) {
    for (const StageRow& row : stages) {
        if (cf->ValueLong("module", row.key) != 0)
            storage->add("tasks", const_cast<char*>(row.task), static_cast<unsigned>(strlen(row.task)));
    }
    return 0;
}

int supervisorMain(int argc, char** argv, const StageTable& stages, const SupervisorSettings& settings) {
    // Every process of the tree inherits it: a line reaches the log when it is
    // printed, not when a buffer fills, since SIGUSR1 ends a process without
    // flushing (only _exit is safe in its handler).
    setvbuf(stdout, nullptr, _IOLBF, 0);
    initProcessTitle(argv[0]);
    setProcessTitle("vintorMain");
    signal(SIGSEGV, supervisorSegv);
    signal(SIGTERM, term_handler);
    // An ignored SIGCHLD survives exec: then no ended stage could be waited for
    // (exit 122) and every touch of the watchdog would fail (exit 1).
    signal(SIGCHLD, SIG_DFL);
    // The tree ends by SIGUSR1 and a crash is reported through SIGSEGV's handler;
    // a signal mask inherited from the starter must hold back neither, in the
    // supervisor or in the stages it forks.
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGUSR1);
    sigaddset(&handled, SIGSEGV);
    sigaddset(&handled, SIGTERM);
    sigprocmask(SIG_UNBLOCK, &handled, nullptr);

    int configport = 0, subscriptionport = 0;
    if (argc < 3 || !parsePort(argv[1], &configport) || !parsePort(argv[2], &subscriptionport))
        usage(argv[0]);

    Supervisor supervisor(stages, settings, configport, subscriptionport);
    return supervisor.run();
}
