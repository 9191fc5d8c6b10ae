// A GPIO tree in place of the kernel's, for programs whose sysfs paths are
// fixed: the test runs under `ns-run --sysfs-gpio`, where /sys/class is a
// private tmpfs. A FIFO as a line's value file carries exact levels.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <linux/magic.h>

#include <chrono>
#include <string>

namespace gpiotree {

const std::string ROOT = "/sys/class/gpio";

// True only inside the test namespace: nothing is ever written to the host's sysfs.
inline bool isPrivate()
{
    struct statfs fs;
    return statfs("/sys/class", &fs) == 0 && fs.f_type == TMPFS_MAGIC;
}

inline std::string line(int pin)
{
    return ROOT + "/gpio" + std::to_string(pin);
}

// A FIFO held open for reading and writing, so neither side ever blocks on open.
class Fifo {
public:
    explicit Fifo(const std::string& path)
    {
        if (mkfifo(path.c_str(), 0666) == 0)
            fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC);
    }
    ~Fifo()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    Fifo(const Fifo&) = delete;
    Fifo& operator=(const Fifo&) = delete;
    bool ok() const { return fd_ >= 0; }

    bool put(const std::string& bytes) { return write(fd_, bytes.data(), bytes.size()) == ssize_t(bytes.size()); }

    // The next line written (without its line end), with the time it came;
    // false at the deadline.
    bool takeLine(std::string* text, std::chrono::steady_clock::time_point* when, std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            size_t end = pending_.find('\n');
            if (end != std::string::npos) {
                *text = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                *when = arrived_;
                return true;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, int(left.count())) <= 0)
                continue;
            char buffer[256];
            ssize_t n = read(fd_, buffer, sizeof buffer);
            arrived_ = std::chrono::steady_clock::now();
            if (n > 0)
                pending_.append(buffer, size_t(n));
        }
    }

private:
    int fd_ = -1;
    std::string pending_;
    std::chrono::steady_clock::time_point arrived_;
};

} // namespace gpiotree
