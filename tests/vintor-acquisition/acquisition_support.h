// Shared parts of the acquisition tests: mapped shared-memory files in a
// temporary directory, private semaphore keys, a replay peer thread and radar
// processes forked from the test.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "configfile.h"
#include "harness.h"
#include "radar.h"
#include "sharedmem.h"

namespace acq {

// Maps sharedmem and the chosen radar files in a temporary directory and
// points the process-wide globals at them, as the supervisor does.
class SharedFiles {
public:
    explicit SharedFiles(bool radar0 = true, bool radar1 = true, bool radar2 = true) {
        void* m = nullptr;
        int fd = -1;
        if (createSharedFile(dir_.file("sharedmem"), SHAREDMEM_FILE_SIZE, &m, &fd) != SharedFileResult::Ok)
            throw std::runtime_error("sharedmem");
        sharedmem = static_cast<sharedmem_st*>(m);
        sharedmemFd = fd;
        fds_[3] = fd;
        sharedmemRadar_st** globals[3] = {&sharedmemRadar0, &sharedmemRadar1, &sharedmemRadar2};
        bool wanted[3] = {radar0, radar1, radar2};
        for (int i = 0; i < 3; ++i) {
            *globals[i] = nullptr;
            if (!wanted[i]) continue;
            if (createSharedFile(dir_.file("sharedmemRadar" + std::to_string(i)), SHAREDMEM_RADAR_FILE_SIZE, &m,
                                 &fds_[i]) != SharedFileResult::Ok)
                throw std::runtime_error("sharedmemRadar");
            *globals[i] = static_cast<sharedmemRadar_st*>(m);
        }
    }
    ~SharedFiles() {
        sharedmemRadar_st** globals[3] = {&sharedmemRadar0, &sharedmemRadar1, &sharedmemRadar2};
        for (int i = 0; i < 3; ++i) {
            if (*globals[i] != nullptr) munmap(*globals[i], SHAREDMEM_RADAR_FILE_SIZE);
            *globals[i] = nullptr;
            if (fds_[i] >= 0) close(fds_[i]);
        }
        munmap(sharedmem, SHAREDMEM_FILE_SIZE);
        sharedmem = nullptr;
        sharedmemFd = -1;
        close(fds_[3]);
    }
    SharedFiles(const SharedFiles&) = delete;
    SharedFiles& operator=(const SharedFiles&) = delete;

private:
    testsupport::TempDir dir_;
    int fds_[4] = {-1, -1, -1, -1};
};

// Semaphore keys of this test process only; the sets are removed at the end.
class PrivateKeys {
public:
    PrivateKeys() {
        static int round = 0;
        int base = 0x51000000 + (int(getpid()) & 0xFFFF) * 64 + (round++ % 8) * 8;
        for (int i = 0; i < 3; ++i) settings.radarKeys[i] = base + i;
        settings.fftKey = base + 3;
    }
    ~PrivateKeys() {
        for (int k : {settings.radarKeys[0], settings.radarKeys[1], settings.radarKeys[2], settings.fftKey}) {
            int id = semget(k, 1, 0);
            if (id >= 0) semctl(id, 0, IPC_RMID);
        }
    }
    int id(int key) const { return semget(key, 1, IPC_CREAT | 0600); }
    int fftValue() const { return semctl(id(settings.fftKey), 0, GETVAL); }
    RadarSettings settings;
};

// A replay peer in a thread: connects to the front-end and answers every "g"
// with what the script says.
class ThreadPeer {
public:
    using Answer = std::function<bool(int fd, int request)>;  // false: the peer leaves
    ThreadPeer(int port, Answer answer) : thread_([this, port, answer] { run(port, answer); }) {}
    ~ThreadPeer() {
        stop_ = true;
        int fd = fd_;
        if (fd >= 0) shutdown(fd, SHUT_RDWR);  // wakes the thread; it never closes fd itself
        thread_.join();
        if (fd_ >= 0) close(fd_);
    }

private:
    void run(int port, const Answer& answer) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int tries = 0; tries < 1000 && !stop_; ++tries) {
            int fd = socket(AF_INET, SOCK_STREAM, 0);
            if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
                fd_ = fd;
                break;
            }
            close(fd);
            usleep(10000);
        }
        int request = 0;
        char c;
        while (fd_ >= 0 && !stop_ && recv(fd_, &c, 1, 0) == 1) {
            if (c == 'g' && !answer(fd_, request++)) break;
        }
        if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> fd_{-1};
    std::thread thread_;
};

// A failed send shows up as a failed measurement on the front-end's side.
inline void sendText(int fd, const std::string& s) { (void)send(fd, s.data(), s.size(), MSG_NOSIGNAL); }

// Runs `body` in a forked child whose standard output goes to a file; the
// child ends with body's result. The destructor kills and reaps it.
class Child {
public:
    Child(const std::function<int()>& body) : out_(dir_.file("stdout")) {
        fflush(stdout);
        pid_ = fork();
        if (pid_ == 0) {
            FILE* f = freopen(out_.c_str(), "w", stdout);
            (void)f;
            int rc = body();
            fflush(stdout);
            _exit(rc);
        }
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    // Waits for the end; the exit status, or -1 at the deadline or on a signal.
    int wait(std::chrono::milliseconds timeout) {
        auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) == pid_) {
                reaped_ = true;
                return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            }
            usleep(5000);
        }
        return -1;
    }
    std::string output() const { return testsupport::readFile(out_); }

private:
    testsupport::TempDir dir_;
    std::string out_;
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// One sweep as the recording holds it, parsed here independently of extractData.
struct Sweep {
    std::string name, time;
    int nr = 0;
    std::vector<int> samples;
};

inline Sweep parseIndependently(const std::string& line) {
    Sweep s;
    std::string body = line.substr(line.find("raw=") + 4);
    std::vector<std::string> f;
    std::stringstream ss(body);
    for (std::string x; std::getline(ss, x, ';');) f.push_back(x);
    s.name = f.at(0);
    s.time = f.at(1);
    s.nr = std::stoi(f.at(2));
    std::stringstream sv(f.at(3));
    for (std::string x; std::getline(sv, x, ',');)
        if (!x.empty()) s.samples.push_back(std::stoi(x));
    return s;
}

inline std::vector<std::string> recordingLines() {
    std::ifstream in(testsupport::sourcePath("data/recording.txt"));
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

inline void expectEntry(const readfile_raw_data_t& e, const Sweep& s, const std::string& where) {
    EXPECT_STREQ(e.sensorname, s.name.c_str()) << where;
    EXPECT_STREQ(e.time, s.time.c_str()) << where;
    EXPECT_EQ(e.sweepnr, s.nr) << where;
    ASSERT_EQ(s.samples.size(), 256u) << where;
    for (size_t i = 0; i < s.samples.size(); ++i)
        ASSERT_EQ(e.data[i], s.samples[i]) << where << " sample " << i;
}

// The direct children of a process, as the kernel lists them.
inline std::vector<pid_t> childrenOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    std::vector<pid_t> out;
    for (pid_t c; in >> c;) out.push_back(c);
    return out;
}

// Polls until pred holds or the deadline passes.
inline bool eventually(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        usleep(2000);
    }
    return pred();
}

}  // namespace acq
