#include "serialport.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace qvpserial {

namespace {

const speed_t tbBitRate[] = {B110,  B150,  B300,   B600,   B1200,  B2400, B4800,
                             B9600, B19200, B38400, B57600, B115200, B230400};
const tcflag_t tbDataBits[] = {CS5, CS6, CS7, CS8};
const tcflag_t tbStopBits[] = {0, CSTOPB};

template <typename T, std::size_t N>
bool inTable(const T (&)[N], int index)
{
    return index >= 0 && static_cast<std::size_t>(index) < N;
}

int setSpeed(termios* t, speed_t speed)
{
    if (cfsetispeed(t, speed) != 0) return kInputSpeed;
    if (cfsetospeed(t, speed) != 0) return kOutputSpeed;
    return kOk;
}

OpenResult badName()
{
    OpenResult result;
    result.code = kBadName;
    result.badName = true;
    return result;
}

long long nowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

} // namespace

int openErrorCode(int err)
{
    switch (err) {
    case ENODEV: return kNoDevice;
    case EACCES: return kAccessDenied;
    case EBUSY: return kBusy;
    case ENOENT: return kNoSuchFile;
    default: return err;
    }
}

int buildTermios(int bitRate, int parity, int dataBits, int stopBits, int handshake, termios* out)
{
    *out = termios{};
    if (!inTable(tbBitRate, bitRate)) return kInputSpeed;
    if (!inTable(tbDataBits, dataBits) || !inTable(tbStopBits, stopBits)) return kSetAttributes;

    // Mark and space parity are stick parity: the kernel sends the fixed bit only
    // with parity enabled.
    static const tcflag_t parityFlags[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR};
    out->c_cflag = tbDataBits[dataBits] | tbStopBits[stopBits] | CREAD | CLOCAL;
    out->c_iflag = IGNBRK;
    if (inTable(parityFlags, parity)) out->c_cflag |= parityFlags[parity];
    if (parity == 1 || parity == 2) {
        out->c_iflag |= INPCK;
    } else if (parity < 1 || parity > 4) {
        out->c_iflag |= IGNPAR;
    }
    if (handshake == 1 || (handshake & 0x40)) out->c_iflag |= IXOFF;
    if (handshake == 1 || (handshake & 0x80)) out->c_iflag |= IXON;
    if (handshake == 2 || (handshake & 0x30)) out->c_cflag |= CRTSCTS;
    out->c_cc[VSTART] = 17;
    out->c_cc[VSTOP] = 19;
    out->c_cc[VMIN] = 1;
    out->c_cc[VTIME] = 0;
    return setSpeed(out, tbBitRate[bitRate]);
}

int rawTermios(termios* out)
{
    *out = termios{};
    out->c_iflag = IGNBRK | IGNPAR;
    out->c_cflag = CS8 | CREAD | CLOCAL;
    out->c_cc[VMIN] = 1;
    out->c_cc[VTIME] = 0;
    return setSpeed(out, B9600);
}

int breakDuration(int tics) { return tics / 250; }

bool waitReadable(int fd, int timeoutMs)
{
    if (fd < 0 || timeoutMs < 0) return false;
    const long long deadline = nowMs() + timeoutMs;
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        const long long left = deadline - nowMs();
        const int n = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (n > 0) return (p.revents & POLLNVAL) == 0;
        if (n == 0 || errno != EINTR) return false;
    }
}

PortTable::PortTable()
{
    for (int i = 0; i < kSlots; ++i) {
        hSerPort[i] = -1;
        tmoRx[i] = 0;
        tmoTx[i] = 0;
    }
}

OpenResult PortTable::open(const OpenRequest& request)
{
    OpenResult result;
    if (request.nameLength > kMaxPath) return badName();
    std::lock_guard<std::mutex> hold(lock);
    char path[kMaxPath + 1];
    int slot = -1;
    if (request.nameLength < 2) {
        if (request.port < 1 || request.port > kSlots) {
            result.code = kBadPortNumber;
            return result;
        }
        slot = request.port - 1;
        if (hSerPort[slot] >= 0) {
            result.code = kSlotInUse;
            return result;
        }
        const int baseLength = request.baseLength > kMaxPath ? static_cast<int>(kMaxPath + 1)
                                                             : static_cast<int>(request.baseLength);
        const int n = std::snprintf(path, sizeof path, "%.*s%d", baseLength, request.base ? request.base : "", slot);
        if (n < 0 || static_cast<std::size_t>(n) > kMaxPath) return badName();
    } else {
        for (int i = 0; i < kSlots && slot < 0; ++i)
            if (hSerPort[i] < 0) slot = i;
        if (slot < 0) {
            result.code = kNoFreeSlot;
            return result;
        }
        std::snprintf(path, sizeof path, "%.*s", static_cast<int>(request.nameLength), request.name);
    }

    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        result.code = openErrorCode(errno);
        return result;
    }
    termios raw;
    result.code = rawTermios(&raw);
    if (result.code == kOk && tcsetattr(fd, TCSANOW, &raw) != 0) result.code = kSetAttributes;
    if (result.code == kOk && tcflush(fd, TCIFLUSH) != 0) result.code = kFlush;
    if (result.code != kOk) {
        // The caller learns no slot on a failure, so nothing may stay behind.
        ::close(fd);
        return result;
    }
    hSerPort[slot] = fd;
    result.slot = slot;
    return result;
}

int PortTable::configure(int slot, const termios& settings)
{
    std::lock_guard<std::mutex> hold(lock);
    const int port = fd(slot);
    if (port < 0 || tcsetattr(port, TCSANOW, &settings) != 0) return kSetAttributes;
    return kOk;
}

int PortTable::close(int slot)
{
    std::lock_guard<std::mutex> hold(lock);
    if (!valid(slot)) return -1;
    const int port = hSerPort[slot].exchange(-1);
    return port < 0 ? -1 : ::close(port);
}

int PortTable::fd(int slot) const { return valid(slot) ? hSerPort[slot].load(std::memory_order_relaxed) : -1; }

bool PortTable::setTimeoutRx(int slot, int ms)
{
    if (!valid(slot)) return false;
    tmoRx[slot] = ms;
    return true;
}

bool PortTable::setTimeoutTx(int slot, int ms)
{
    if (!valid(slot)) return false;
    tmoTx[slot] = ms;
    return true;
}

} // namespace qvpserial
