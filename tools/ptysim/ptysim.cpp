#include "ptysim.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

int64_t monoMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace

bool publishPath(const std::string& linkFile, const std::string& path)
{
    const std::string tmp = linkFile + ".new";
    FILE* f = fopen(tmp.c_str(), "w");
    if (!f) return false;
    // A line end, as a shell script's echo would print it.
    fprintf(f, "%s\n", path.c_str());
    if (fclose(f) != 0) return false;
    return rename(tmp.c_str(), linkFile.c_str()) == 0;
}

std::string hexText(const uint8_t* data, size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        if (i > 0) s += ' ';
        s += digits[data[i] >> 4];
        s += digits[data[i] & 0x0F];
    }
    return s;
}

Bytes hexBytes(const std::string& text)
{
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

PtySim::PtySim()
{
    if (pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
}

PtySim::~PtySim()
{
    stop();
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
}

bool PtySim::open(const std::string& linkFile)
{
    if (wake_[0] < 0 || !pty_.openForDevice()) return false;
    return linkFile.empty() || publishPath(linkFile, pty_.slavePath);
}

int PtySim::serve(const std::string& name, const std::string& linkFile, const std::string& controlFile)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    printLog = true;
    if (!open(linkFile)) {
        perror((name + ": pseudo-terminal or link file").c_str());
        return 1;
    }
    // Opened for writing as well, a control FIFO never reads as ended between writers.
    int control = STDIN_FILENO;
    if (!controlFile.empty() && (control = ::open(controlFile.c_str(), O_RDWR | O_CLOEXEC)) < 0) {
        perror(controlFile.c_str());
        return 1;
    }
    printf("slave %s\n%s ready\n", pty_.slavePath.c_str(), name.c_str());
    return run(control);
}

void PtySim::start()
{
    thread_ = std::thread([this] { run(); });
}

void PtySim::stop()
{
    if (!thread_.joinable()) return;
    control("hangup");
    thread_.join();
}

void PtySim::control(const std::string& line)
{
    const std::string l = line + "\n";
    (void)!write(wake_[1], l.data(), l.size());
}

std::vector<std::string> PtySim::log() const
{
    std::lock_guard<std::mutex> lock(logMutex_);
    return log_;
}

size_t PtySim::logSize() const
{
    std::lock_guard<std::mutex> lock(logMutex_);
    return log_.size();
}

bool PtySim::waitForLog(const std::string& prefix, int timeoutMs, size_t from) const
{
    std::unique_lock<std::mutex> lock(logMutex_);
    return logChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (size_t i = from; i < log_.size(); i++)
            if (log_[i].compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    });
}

void PtySim::note(const std::string& line)
{
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        log_.push_back(line);
    }
    logChanged_.notify_all();
    if (printLog) {
        printf("%s\n", line.c_str());
        fflush(stdout);
    }
}

void PtySim::send(const Bytes& bytes, int delayMs)
{
    const int64_t now = monoMs();
    const int64_t base = out_.empty() || lastDue_ < now ? now : lastDue_;
    lastDue_ = base + delayMs;
    out_.push_back(Chunk{lastDue_, bytes, 0});
}

bool PtySim::writeDue()
{
    while (!out_.empty() && out_.front().due <= monoMs()) {
        Chunk& c = out_.front();
        while (c.done < c.bytes.size()) {
            ssize_t n = write(pty_.master, c.bytes.data() + c.done, c.bytes.size() - c.done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) return true; // the host's buffer is full: wait for room
            if (n <= 0) {
                perror("pty write");
                return false;
            }
            c.done += static_cast<size_t>(n);
        }
        out_.pop_front();
    }
    return true;
}

int PtySim::waitMs() const
{
    if (out_.empty()) return 200;
    const int64_t left = out_.front().due - monoMs();
    return left <= 0 ? 200 : static_cast<int>(left);
}

void PtySim::takeControl(const char* data, size_t n, std::string* pending, bool* hangup)
{
    pending->append(data, n);
    size_t eol;
    while ((eol = pending->find('\n')) != std::string::npos) {
        std::string line = pending->substr(0, eol);
        pending->erase(0, eol + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line == "hangup") {
            *hangup = true;
            return;
        }
        if (!command(line)) note("unknown control " + line);
    }
}

int PtySim::run(int controlFd)
{
    std::string fromWake, fromControl;
    for (;;) {
        const bool due = !out_.empty() && out_.front().due <= monoMs();
        struct pollfd fds[3] = {{pty_.master, static_cast<short>(POLLIN | (due ? POLLOUT : 0)), 0},
                                {wake_[0], POLLIN, 0},
                                {controlFd, POLLIN, 0}};
        const int r = poll(fds, controlFd >= 0 ? 3 : 2, waitMs());
        if (r < 0 && errno != EINTR) {
            perror("poll");
            return 1;
        }
        bool hangup = false;
        if (r > 0 && (fds[0].revents & POLLIN)) {
            uint8_t in[4096];
            ssize_t n = read(pty_.master, in, sizeof in);
            if (n > 0) input(in, static_cast<size_t>(n));
        }
        char text[512];
        if (r > 0 && (fds[1].revents & POLLIN)) {
            ssize_t n = read(wake_[0], text, sizeof text);
            if (n > 0) takeControl(text, static_cast<size_t>(n), &fromWake, &hangup);
        }
        if (r > 0 && controlFd >= 0 && (fds[2].revents & (POLLIN | POLLHUP))) {
            ssize_t n = read(controlFd, text, sizeof text);
            if (n <= 0)
                controlFd = -1;
            else
                takeControl(text, static_cast<size_t>(n), &fromControl, &hangup);
        }
        if (hangup) {
            note("hangup");
            pty_.close();
            return 0;
        }
        if (!writeDue()) return 1;
    }
}
