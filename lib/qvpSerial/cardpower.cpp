#include "cardpower.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qvpserial {

namespace {

volatile sig_atomic_t gotContinueSignal = 0;

void sigContinueHandler(int) { gotContinueSignal = 1; }

} // namespace

int lookupDev(std::FILE* listing, const char* name)
{
    char line[32];
    bool lineStart = true;
    while (std::fgets(line, sizeof line, listing)) {
        // Only the first 31 characters of a line count; its rest is skipped, not
        // taken for a line of its own.
        const bool parse = lineStart;
        lineStart = std::strchr(line, '\n') != nullptr;
        if (!parse) continue;
        int major = 0;
        char driver[32];
        if (std::sscanf(line, "%d %31s", &major, driver) == 2 && std::strcmp(driver, name) == 0) return major;
    }
    return -ENODEV;
}

int lookupDev(const char* path, const char* name)
{
    std::FILE* f = std::fopen(path, "re");
    if (!f) return -errno;
    const int major = lookupDev(f, name);
    std::fclose(f);
    return major;
}

int openSock(int major, int socket, const char* const* dirs, std::size_t dirCount)
{
    if (major < 0 || socket < 0) return -1;
    const dev_t dev = makedev(static_cast<unsigned>(major), static_cast<unsigned>(socket));
    for (std::size_t i = 0; i < dirCount; ++i) {
        char node[128];
        std::snprintf(node, sizeof node, "%s/cc-%d", dirs[i], static_cast<int>(getpid()));
        if (mknod(node, S_IFCHR | 0600, dev) != 0) continue;
        const int fd = ::open(node, O_RDONLY | O_CLOEXEC);
        const int err = errno;
        unlink(node);
        if (fd >= 0) return fd;
        if (err == ENODEV) break;
    }
    return -1;
}

bool packApm(const char* text, int32_t* packed)
{
    char driver[16], bios[16], flags[16], time[16], unit[16];
    unsigned ac = 0, status = 0, battery = 0;
    int percent = 0;
    if (std::sscanf(text, "%15s %15s %15s %x %x %x %d%% %15s %15s", driver, bios, flags, &ac, &status, &battery,
                    &percent, time, unit) < 7)
        return false;
    uint32_t v = static_cast<uint32_t>(percent) & 0x7F;
    if ((battery & 0x80) == 0) v |= 0x80;
    // The kernel reports an unknown battery status as 0xff, which lands in the
    // "other" row; 0x7f is the BIOS's own unknown.
    switch (status) {
    case 0: break;
    case 1: v |= 0x100; break;
    case 2: v |= 0x400; break;
    case 3: v |= 0x800; break;
    case 0x7F: v |= 0x200; break;
    default: v |= 0xFF00; break;
    }
    v |= ac << 16;
    *packed = static_cast<int32_t>(v);
    return true;
}

bool readApm(const char* path, int32_t* packed)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[256];
    const ssize_t n = read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n < 0) return false;
    text[n] = '\0';
    return packApm(text, packed);
}

void installContinueHandler()
{
    struct sigaction sa {};
    sa.sa_handler = sigContinueHandler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGCONT, &sa, nullptr);
}

int resumeState(bool clear)
{
    const int state = gotContinueSignal;
    if (clear) gotContinueSignal = 0;
    return state;
}

} // namespace qvpserial
