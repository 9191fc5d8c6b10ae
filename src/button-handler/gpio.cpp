#include "gpio.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace button {

namespace {

int openRetrying(const std::string& path, int flags)
{
    int fd;
    do {
        fd = open(path.c_str(), flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// false only when the file cannot be opened: as on the unit, where a failed
// write (EBUSY for an exported line) shows in the steps that follow.
bool writeFile(const std::string& path, int flags, const char* text)
{
    int fd = openRetrying(path, flags);
    if (fd < 0)
        return false;
    size_t left = strlen(text);
    while (left > 0) {
        ssize_t n = write(fd, text, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text += n;
        left -= static_cast<size_t>(n);
    }
    close(fd);
    return true;
}

} // namespace

SysfsGpio::SysfsGpio(std::string base, int directionWaitMs) : base_(std::move(base)), directionWaitMs_(directionWaitMs) {}

std::string SysfsGpio::pinFile(int pin, const char* name) const
{
    return base_ + "/gpio" + std::to_string(pin) + "/" + name;
}

bool SysfsGpio::exportPin(int pin) const
{
    // EBUSY: exported already, by us before or by another program; the line is there.
    return writeFile(base_ + "/export", O_WRONLY | O_APPEND, std::to_string(pin).c_str());
}

bool SysfsGpio::unexportPin(int pin) const
{
    return writeFile(base_ + "/unexport", O_WRONLY | O_APPEND, std::to_string(pin).c_str());
}

bool SysfsGpio::configureInput(int pin) const
{
    // The kernel makes the line's directory a moment after the export.
    const std::string direction = pinFile(pin, "direction");
    bool opened = false;
    for (int waited = 0;; waited += 10) {
        opened = writeFile(direction, O_RDWR, "in");
        if (opened || waited >= directionWaitMs_)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return opened && writeFile(pinFile(pin, "active_low"), O_RDWR, "1");
}

int SysfsGpio::readValue(int pin) const
{
    int fd = openRetrying(pinFile(pin, "value"), O_RDWR);
    if (fd < 0)
        return -1;
    // One byte and no buffering: the value file may be a pipe of levels.
    char c = 0;
    ssize_t n;
    do {
        n = read(fd, &c, 1);
    } while (n < 0 && errno == EINTR);
    close(fd);
    return n == 1 ? static_cast<unsigned char>(c) : 0;
}

} // namespace button
