// Runs a piece of code in a forked child with its standard output captured, for
// helpers that end the process on purpose (exit statuses 1 and 3).
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

struct ChildResult {
    bool exited = false;  // false: killed, or still running at the deadline
    int status = -1;      // exit status when exited
    std::string out;      // everything written on standard output
};

// body runs in the child; returning from it ends the child with 0. tick, when
// given, runs in the parent about every 100 ms until the child ends.
inline ChildResult runChild(const std::function<void()>& body, std::chrono::milliseconds timeout = std::chrono::milliseconds(20000),
                            const std::function<void(pid_t)>& tick = nullptr)
{
    ChildResult r;
    int fds[2];
    if (pipe(fds) != 0)
        return r;
    fflush(stdout);
    pid_t pid = fork();
    if (pid < 0)
        return r;
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[1]);
        body();
        fflush(stdout);
        _exit(0);
    }
    close(fds[1]);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{fds[0], POLLIN, 0};
        int n = poll(&p, 1, static_cast<int>(left < 100 ? left : 100));
        if (n > 0) {
            char buf[4096];
            ssize_t got = read(fds[0], buf, sizeof buf);
            if (got <= 0)
                break;
            r.out.append(buf, static_cast<size_t>(got));
        } else if (tick) {
            tick(pid);
        }
    }
    close(fds[0]);
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    while (done == 0 && std::chrono::steady_clock::now() < deadline) {
        usleep(10000);
        done = waitpid(pid, &status, WNOHANG);
    }
    if (done != pid) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return r;
    }
    r.exited = WIFEXITED(status);
    r.status = r.exited ? WEXITSTATUS(status) : -1;
    return r;
}
