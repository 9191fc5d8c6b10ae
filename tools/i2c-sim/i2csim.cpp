#include "i2csim.h"

#include <cerrno>
#include <cstdio>
#include <thread>

int SimulatedBus::openBus(int bus)
{
    if (fault == Fault::Open || bus != busNumber_ || openFd_ >= 0) {
        errno = ENOENT;
        return -1;
    }
    openFd_ = nextFd_++;
    return openFd_;
}

int SimulatedBus::close(int fd)
{
    if (!valid(fd)) {
        errno = EBADF;
        return -1;
    }
    openFd_ = -1;
    slave_ = -1;
    return 0;
}

int SimulatedBus::setSlave(int fd, int address)
{
    // As i2c-dev: any 7-bit address is taken; a missing chip shows at the transfer.
    if (!valid(fd) || fault == Fault::Slave || address < 0 || address > 0x7F) {
        errno = valid(fd) ? EINVAL : EBADF;
        return -1;
    }
    slave_ = address;
    return 0;
}

int SimulatedBus::tenBit(int fd, bool)
{
    if (!valid(fd)) {
        errno = EBADF;
        return -1;
    }
    return 0;
}

uint8_t SimulatedBus::inputPort() const
{
    uint8_t direction = expanderRegisters[3];
    return static_cast<uint8_t>((inputLevels & direction) | (expanderRegisters[1] & ~direction));
}

int SimulatedBus::write(int fd, const uint8_t* data, int n)
{
    if (!valid(fd) || n < 1) {
        errno = valid(fd) ? EINVAL : EBADF;
        return -1;
    }
    if (fault == Fault::Write || (slave_ != SENSOR_ADDRESS && slave_ != EXPANDER_ADDRESS)) {
        errno = EREMOTEIO; // nobody acknowledged
        return -1;
    }
    transfers_.push_back({true, slave_, std::vector<uint8_t>(data, data + n)});
    if (slave_ == SENSOR_ADDRESS) {
        if (n != 1 || (data[0] != 0xE3 && data[0] != 0xE5)) {
            errno = EREMOTEIO;
            return -1;
        }
        sensorCommand_ = data[0];
        return n;
    }
    expanderPointer_ = data[0] & 0x03;
    for (int i = 1; i < n; i++) {
        if (expanderPointer_ != 0) // the input port is read-only
            expanderRegisters[expanderPointer_] = data[i];
        expanderPointer_ = (expanderPointer_ + 1) & 0x03;
    }
    return n;
}

int SimulatedBus::read(int fd, uint8_t* buffer, int n)
{
    if (!valid(fd) || n < 0) {
        errno = valid(fd) ? EINVAL : EBADF;
        return -1;
    }
    if (fault == Fault::Read || (slave_ != SENSOR_ADDRESS && slave_ != EXPANDER_ADDRESS)) {
        errno = EREMOTEIO;
        return -1;
    }
    int count = fault == Fault::ShortRead && n > 0 ? n - 1 : n;
    if (slave_ == SENSOR_ADDRESS) {
        if (sensorCommand_ < 0) {
            errno = EREMOTEIO; // no measurement asked for
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(conversionMs));
        const auto& bytes = sensorCommand_ == 0xE3 ? temperatureBytes : humidityBytes;
        for (int i = 0; i < count; i++)
            buffer[i] = i < 3 ? bytes[static_cast<size_t>(i)] : 0xFF;
        sensorCommand_ = -1;
    } else {
        for (int i = 0; i < count; i++) {
            buffer[i] = expanderPointer_ == 0 ? inputPort() : expanderRegisters[expanderPointer_];
            expanderPointer_ = (expanderPointer_ + 1) & 0x03;
        }
    }
    transfers_.push_back({false, slave_, std::vector<uint8_t>(buffer, buffer + count)});
    return count;
}

std::string SimulatedBus::writeLog() const
{
    std::string out;
    char hex[8];
    for (const Transfer& t : transfers_) {
        if (!t.write)
            continue;
        snprintf(hex, sizeof hex, "%02x:", t.address);
        out += hex;
        for (uint8_t b : t.bytes) {
            snprintf(hex, sizeof hex, " %02x", b);
            out += hex;
        }
        out += "\n";
    }
    return out;
}
