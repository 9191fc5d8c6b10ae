#include "children.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "misc.h"

namespace {

char* programName = nullptr;
std::size_t programRoom = 0;

}  // namespace

void initProcessTitle(char* argv0) {
    programName = argv0;
    programRoom = std::strlen(argv0);
}

void setProcessTitle(const std::string& title) {
    // The name the process was started by, or (in a program that never said)
    // what it holds now: room that is certainly ours.
    if (programName == nullptr && program_invocation_name != nullptr) initProcessTitle(program_invocation_name);
    if (programName != nullptr) std::strncpy(programName, title.c_str(), programRoom);
}

pid_t ChildList::start(const char* name, const char* title) {
    // Unflushed output would otherwise be written by both processes.
    std::fflush(stdout);
    std::fflush(stderr);
    // No stage or radar runs on without its supervisor: a restarted tree
    // would find a second writer on every ring, port and device.
    const pid_t pid = childtree::forkTied(kEndWithParent);
    if (pid == 0) {
        setProcessTitle(title);
        return 0;
    }
    if (pid < 0) return -1;
    pidlist_st entry;
    std::memset(&entry, 0, sizeof entry);
    entry.pid = pid;
    std::snprintf(entry.name, sizeof entry.name, "%s", name);
    children_.push_back(entry);
    return pid;
}

bool ChildList::has(const std::string& name) const {
    for (const pidlist_st& c : children_)
        if (name == c.name) return true;
    return false;
}

ChildList::Entries::iterator ChildList::stop(Entries::iterator it) {
    kill(it->pid, SIGKILL);
    while (waitpid(it->pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return children_.erase(it);
}

pid_t ChildList::ended(const pidlist_st& child) {
    int status;
    pid_t r;
    while ((r = waitpid(child.pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    return r;
}

void printMemoryUse(const pidlist_st& child) {
    double vm = 0, rss = 0;
    util::process_mem_usage(child.pid, vm, rss);
    std::printf("\nPID: %d %s; VM: %g; RSS: %g", child.pid, child.name, vm, rss);
}

bool taskNames(const std::string& task, const char* verb, const char* name) {
    static const char* const blanks = " \t\r\n";
    const std::size_t verbEnd = task.find_first_of(blanks);
    if (verbEnd == std::string::npos || task.compare(0, verbEnd, verb) != 0) return false;
    const std::size_t start = task.find_first_not_of(blanks, verbEnd);
    if (start == std::string::npos) return false;
    const std::size_t end = task.find_first_of(blanks, start);
    return task.compare(start, end == std::string::npos ? std::string::npos : end - start, name) == 0;
}
