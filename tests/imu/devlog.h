// Syslog lines of programs under test: inside the private namespace of
// tests/ns-run, /dev gets a tmpfs of its own (the device nodes the programs need
// are bound in) and a datagram listener on /dev/log. Nothing reaches the host's
// /dev, so parallel tests never meet on one /dev/log. A thread takes every
// datagram at once: a full queue would block the programs' syslog calls.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DevLog {
public:
    DevLog()
    {
        if (getenv("NS_RUN_INSIDE") == nullptr) {
            why = "not inside tests/ns-run";
            return;
        }
        const std::string host = "/tmp/.hostdev";
        mkdir(host.c_str(), 0755);
        if (!step(mount("/dev", host.c_str(), nullptr, MS_BIND | MS_REC, nullptr), "keep /dev") ||
            !step(mount("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=0755"), "tmpfs on /dev"))
            return;
        for (const char* node : {"null", "zero", "full", "random", "urandom", "tty", "ptmx"}) {
            const std::string path = std::string("/dev/") + node;
            close(open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666));
            if (!step(mount((host + "/" + node).c_str(), path.c_str(), nullptr, MS_BIND, nullptr), path.c_str()))
                return;
        }
        mkdir("/dev/pts", 0755);
        mkdir("/dev/shm", 01777);
        if (!step(mount((host + "/pts").c_str(), "/dev/pts", nullptr, MS_BIND | MS_REC, nullptr), "/dev/pts") ||
            !step(mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID, "mode=1777"), "/dev/shm"))
            return;
        (void)!symlink("/proc/self/fd", "/dev/fd");
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        strcpy(addr.sun_path, "/dev/log");
        if (!step(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), "bind /dev/log"))
            return;
        chmod("/dev/log", 0666);
        ready = true;
        reader = std::thread([this] {
            while (!done) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 100) <= 0)
                    continue;
                char buf[8192];
                ssize_t n = recv(fd, buf, sizeof buf, 0);
                std::lock_guard<std::mutex> g(lock);
                if (n > 0)
                    seen.emplace_back(buf, static_cast<size_t>(n));
            }
        });
    }
    ~DevLog()
    {
        done = true;
        if (reader.joinable())
            reader.join();
        if (fd >= 0)
            close(fd);
    }

    bool ok() const { return ready; }
    std::string why;

    // The first line (received now or before) that contains text; false at the deadline.
    bool waitFor(const std::string& text, std::chrono::milliseconds timeout, std::string* line = nullptr)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        do {
            {
                std::lock_guard<std::mutex> g(lock);
                for (const auto& l : seen)
                    if (l.find(text) != std::string::npos) {
                        if (line)
                            *line = l;
                        return true;
                    }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

private:
    bool step(int rc, const char* what)
    {
        if (rc != 0)
            why = std::string(what) + ": " + strerror(errno);
        return rc == 0;
    }

    int fd = -1;
    bool ready = false;
    std::atomic<bool> done{false};
    std::mutex lock;
    std::vector<std::string> seen;
    std::thread reader;
};
