// The supervisor with a test stage table: vintor's rows with fake entries,
// stand-ins for stages that need radars and feeds which a test cannot provide.
// Each stage appends "<key> <pid> <threads> <vintor/probe>" to
// $SPINE_DIR/started.log, <threads> being how many threads the supervisor had
// when it forked the stage, then acts as $SPINE_FAKE_<KEY> says: "sleep"
// (default, runs until killed), "exit" (returns at once) or "crash" (SIGSEGV).
// "unbuilt" leaves the row without an entry, as for a stage not built yet.
// With SPINE_MARK_PASSES set, the supervisor writes "\n[pass]" to its output
// as each pass of its loop ends, so a test can count passes in order with what
// the supervisor printed, whatever the load of the machine.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/select.h>
#include <unistd.h>

#include <cstdio>

#include <cstdlib>
#include <string>
#include <utility>

#include "configfile.h"
#include "stages.h"

namespace {

// Set in the forking process just before each fork, so the child holds the
// supervisor's count of that moment.
int threadsAtFork = -1;

void countThreads() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    threadsAtFork = n;
}

std::string env(const char* name, const char* fallback) {
    const char* v = getenv(name);
    return v ? v : fallback;
}

std::string modeOf(const char* key) {
    std::string upper;
    for (const char* p = key; *p; ++p) upper += static_cast<char>(*p - 'a' + 'A');
    return env(("SPINE_FAKE_" + upper).c_str(), "sleep");
}

void fakeStage(const char* key, ConfigFile* cf) {
    std::string probe;
    cf->Value("vintor", "probe", &probe);
    std::string line = std::string(key) + " " + std::to_string(getpid()) + " " + std::to_string(threadsAtFork) + " " +
                       probe + "\n";
    std::string log = env("SPINE_DIR", "/tmp") + "/started.log";
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
        ssize_t ignored = write(fd, line.data(), line.size());
        (void)ignored;
        close(fd);
    }
    std::string mode = modeOf(key);
    if (mode == "exit") return;
    if (mode == "crash") raise(SIGSEGV);
    for (;;) pause();
}

bool markPasses = false;
long passMicros = 0;

}  // namespace

// The supervisor ends each pass with a select on no descriptors for the pass
// time; other pauses (killall, reset) have times of their own.
extern "C" int select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, timeval* timeout) {
    using Select = int (*)(int, fd_set*, fd_set*, fd_set*, timeval*);
    static const Select next = reinterpret_cast<Select>(dlsym(RTLD_NEXT, "select"));
    if (markPasses && nfds == 0 && timeout != nullptr && timeout->tv_sec * 1000000L + timeout->tv_usec == passMicros) {
        fputs("\n[pass]", stdout);
        fflush(stdout);
    }
    return next(nfds, readfds, writefds, exceptfds, timeout);
}

// An entry is a plain function: one per row, each knowing its row by number.
template <std::size_t I>
void fakeEntry(ConfigFile* cf) {
    fakeStage(vintorStages()[I].key, cf);
}

template <std::size_t... I>
StageTable fakeTable(std::index_sequence<I...>) {
    StageTable table = vintorStages();
    void (*entries[])(ConfigFile*) = {fakeEntry<I>...};
    for (std::size_t i = 0; i < table.size() && i < sizeof...(I); ++i)
        table[i].entry = modeOf(table[i].key) == "unbuilt" ? nullptr : entries[i];
    return table;
}

int main(int argc, char** argv) {
    pthread_atfork(countThreads, nullptr, nullptr);
    SupervisorSettings s;
    s.sharedDir = env("SPINE_DIR", "/tmp");
    s.watchdogFile = env("SPINE_WATCHDOG", s.watchdogFile.c_str());
    s.passMicros = std::stol(env("SPINE_PASS_US", "1000000"));
    markPasses = getenv("SPINE_MARK_PASSES") != nullptr;
    passMicros = s.passMicros;
    s.killallMicros = std::stol(env("SPINE_KILLALL_US", "1500000"));
    s.resetMicros = std::stol(env("SPINE_RESET_US", "9500000"));
    static const StageTable table = fakeTable(std::make_index_sequence<12>());
    return supervisorMain(argc, argv, table, s);
}
