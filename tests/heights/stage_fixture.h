// Real rings in a mapped file of a temporary folder, private semaphore keys,
// stage processes forked from the test, and subscribers on loopback.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>
#include <zmq.hpp>

#include "sharedmem.h"

namespace stagetest {

// A TCP port nobody listens on right now.
inline int freePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

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

// Next message of a subscriber within the deadline; empty when none came.
inline std::string receive(zmq::socket_t& s, int timeoutMs = 3000) {
    s.set(zmq::sockopt::rcvtimeo, timeoutMs);
    zmq::message_t m;
    if (!s.recv(m)) return std::string();
    return m.to_string();
}

inline zmq::socket_t subscriber(zmq::context_t& ctx, int port) {
    zmq::socket_t s(ctx, zmq::socket_type::sub);
    s.set(zmq::sockopt::subscribe, "");
    s.connect("tcp://127.0.0.1:" + std::to_string(port));
    return s;
}

}  // namespace stagetest
