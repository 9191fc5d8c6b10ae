// Real rings in a mapped file of a temporary folder, private semaphore keys,
// stage processes forked from the test, and subscribers on loopback.
#pragma once

#include <signal.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>
#include <gtest/gtest.h>
#include <zmq.hpp>

#include "harness.h"
#include "sharedmem.h"

namespace stagetest {

// The shared-memory file and semaphore keys of one test; removed at the end.
class Rings {
public:
    std::vector<int> keys;
    std::string dir;

    explicit Rings(int nKeys) {
        char tmpl[] = "/tmp/heightsXXXXXX";
        dir = mkdtemp(tmpl);
        void* map = nullptr;
        createSharedFile(dir + "/sharedmem", sizeof(sharedmem_st), &map, &sharedmemFd);
        sharedmem = static_cast<sharedmem_st*>(map);
        // Keys of this process only, so tests may run side by side.
        for (int k = 0; k < nKeys; ++k) keys.push_back(0x48000000 + (getpid() & 0xffff) * 16 + k);
        for (int key : keys) setSemaphore(getSemaphore(key), 0);
    }
    ~Rings() {
        for (int key : keys) semctl(getSemaphore(key), 0, IPC_RMID);
        munmap(sharedmem, sizeof(sharedmem_st));
        close(sharedmemFd);
        sharedmem = nullptr;
        sharedmemFd = -1;
        std::system(("rm -rf " + dir).c_str());
    }
};

// A stage loop run in a child process, ended by the test. Fork before the test
// makes any ZeroMQ context: a child must not inherit a live one.
class Child {
public:
    pid_t pid = -1;
    explicit Child(const std::function<void()>& body) {
        std::fflush(stdout);
        pid = fork();
        if (pid == 0) {
            body();
            _exit(0);
        }
    }
    ~Child() { stop(); }
    void stop() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
};

// Waits until a stage sleeps on the semaphore of `key`: it has started, bound its
// feeds and noted where the rings stand, so every record added from then on is
// new to it. False at the deadline.
inline bool sleepsOn(int key, int timeoutMs = 20000) {
    const int id = getSemaphore(key);
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        if (semctl(id, 0, GETNCNT) > 0) return true;
        usleep(5000);
    }
    return false;
}

// Next message of a subscriber within the deadline; empty when none came.
inline std::string receive(zmq::socket_t& s, int timeoutMs = 10000) {
    s.set(zmq::sockopt::rcvtimeo, timeoutMs);
    zmq::message_t m;
    if (!s.recv(m)) return std::string();
    return m.to_string();
}

// A subscriber on a stage's feed, connected to the stage by the time it is
// returned, so that nothing the stage publishes afterwards passes it by. When
// no stage answers, the failure is recorded for the test to stop at.
inline zmq::socket_t subscriber(zmq::context_t& ctx, int port) {
    zmq::socket_t s(ctx, zmq::socket_type::sub);
    s.set(zmq::sockopt::subscribe, "");
    EXPECT_TRUE(testsupport::joinFeed(ctx, s, "tcp://127.0.0.1:" + std::to_string(port),
                                       std::chrono::milliseconds(20000)))
        << "no stage publishes on port " << port;
    return s;
}

}  // namespace stagetest
