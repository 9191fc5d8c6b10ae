#include "i2c.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// i2c-dev request numbers.
constexpr unsigned long I2C_SLAVE_REQUEST = 0x0703;
constexpr unsigned long I2C_TENBIT_REQUEST = 0x0704;

} // namespace

int i2cOpenBus(int bus, const std::string& pattern)
{
    char path[256];
    snprintf(path, sizeof path, pattern.c_str(), bus);
    return open(path, O_RDWR | O_CLOEXEC);
}

int i2cClose(int fd)
{
    return close(fd);
}

int i2cSetSlave(int fd, int address)
{
    return ioctl(fd, I2C_SLAVE_REQUEST, static_cast<long>(address)) < 0 ? -1 : 0;
}

int i2cTenBitOn(int fd)
{
    return ioctl(fd, I2C_TENBIT_REQUEST, 1L) < 0 ? -1 : 0;
}

int i2cTenBitOff(int fd)
{
    return ioctl(fd, I2C_TENBIT_REQUEST, 0L) < 0 ? -1 : 0;
}

int i2cRead(int fd, uint8_t* buffer, int n)
{
    ssize_t r;
    do {
        r = read(fd, buffer, static_cast<size_t>(n));
    } while (r < 0 && errno == EINTR);
    return static_cast<int>(r);
}

int i2cWrite(int fd, const uint8_t* data, int n)
{
    ssize_t r;
    do {
        r = write(fd, data, static_cast<size_t>(n));
    } while (r < 0 && errno == EINTR);
    return static_cast<int>(r);
}

int i2cCommandRead(I2cBus& bus, int fd, uint8_t command, uint8_t* buffer, int n)
{
    int w = bus.write(fd, &command, 1);
    if (w < 0)
        return w;
    return bus.read(fd, buffer, n);
}

int i2cSelect(I2cBus& bus, int fd, int address)
{
    if (bus.setSlave(fd, address) >= 0)
        return 0;
    printf("*Could set slave address to %d\n", address);
    return -1;
}

I2cSession::I2cSession(I2cBus& bus, int number) : bus_(bus), fd_(bus.openBus(number))
{
    if (fd_ < 0)
        printf("*Could not open I2C bus %d\n", number);
}
