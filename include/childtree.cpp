#include "childtree.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace childtree {

void tieToParent(pid_t parent, int sig)
{
    prctl(PR_SET_PDEATHSIG, sig);
    if (getppid() != parent)
        _exit(0);
}

pid_t forkTied(int sig)
{
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        tieToParent(parent, sig);
    return pid;
}

namespace {

volatile sig_atomic_t group = 0;
volatile sig_atomic_t ending = 0;

void endGroup(int)
{
    ending = 1;
    if (group > 0)
        kill(-static_cast<pid_t>(group), SIGTERM);
}

} // namespace

int runGroup(const char* const argv[])
{
    // Only calls a signal handler may make: the caller may be a child of a
    // process with threads.
    struct sigaction sa = {};
    sa.sa_handler = endGroup;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    const pid_t command = forkTied(SIGKILL);
    if (command < 0)
        return -1;
    if (command == 0) {
        setpgid(0, 0);
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    setpgid(command, command); // either side may set it first
    group = command;
    if (ending)
        kill(-command, SIGTERM);
    int status = 0;
    pid_t r;
    while ((r = waitpid(command, &status, 0)) < 0 && errno == EINTR) {
    }
    // What ignored the SIGTERM goes now.
    if (ending)
        kill(-command, SIGKILL);
    group = 0;
    return r == command ? status : -1;
}

int system(const char* command)
{
    fflush(stdout);
    fflush(stderr);
    const pid_t runner = forkTied();
    if (runner < 0)
        return -1;
    if (runner == 0) {
        const char* argv[] = {"/bin/sh", "-c", command, nullptr};
        const int status = runGroup(argv);
        _exit(status == -1 ? 127 : shellStatus(status));
    }
    int status = 0;
    while (waitpid(runner, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return status;
}

int shellStatus(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return 1;
}

} // namespace childtree
