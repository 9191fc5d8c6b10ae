// I2C access through the i2c-dev interface: the free routines work on a bus
// device node; I2cBus puts the same operations behind an interface so the
// device logic runs against a simulated bus where no I2C hardware exists.
#pragma once

#include <cstdint>
#include <string>

// Node of bus N; "/dev/i2c-%d" on the unit.
constexpr const char* I2C_BUS_PATTERN = "/dev/i2c-%d";

// Each returns a negative value on failure. i2cOpenBus returns the descriptor,
// i2cRead and i2cWrite the number of bytes moved, the others 0.
int i2cOpenBus(int bus, const std::string& pattern = I2C_BUS_PATTERN);
int i2cClose(int fd);
int i2cSetSlave(int fd, int address);
int i2cTenBitOn(int fd);
int i2cTenBitOff(int fd);
int i2cRead(int fd, uint8_t* buffer, int n);
int i2cWrite(int fd, const uint8_t* data, int n);

class I2cBus {
public:
    virtual ~I2cBus() = default;
    virtual int openBus(int bus) = 0;
    virtual int close(int fd) = 0;
    virtual int setSlave(int fd, int address) = 0;
    virtual int tenBit(int fd, bool on) = 0;
    virtual int read(int fd, uint8_t* buffer, int n) = 0;
    virtual int write(int fd, const uint8_t* data, int n) = 0;
};

// The kernel's i2c-dev interface; the node pattern is a run setting.
class I2cDevBus : public I2cBus {
public:
    explicit I2cDevBus(std::string pattern = I2C_BUS_PATTERN) : pattern_(std::move(pattern)) {}
    int openBus(int bus) override { return i2cOpenBus(bus, pattern_); }
    int close(int fd) override { return i2cClose(fd); }
    int setSlave(int fd, int address) override { return i2cSetSlave(fd, address); }
    int tenBit(int fd, bool on) override { return on ? i2cTenBitOn(fd) : i2cTenBitOff(fd); }
    int read(int fd, uint8_t* buffer, int n) override { return i2cRead(fd, buffer, n); }
    int write(int fd, const uint8_t* data, int n) override { return i2cWrite(fd, data, n); }

private:
    std::string pattern_;
};

// Writes the one command byte, then reads n bytes: the read's result, or the
// failing write's without reading.
int i2cCommandRead(I2cBus& bus, int fd, uint8_t command, uint8_t* buffer, int n);

// Selects the chip; on failure prints "*Could set slave address to <address>"
// and returns a negative value.
int i2cSelect(I2cBus& bus, int fd, int address);

// An open bus that is closed on scope exit.
class I2cSession {
public:
    // Prints "*Could not open I2C bus <number>" when the bus does not open.
    I2cSession(I2cBus& bus, int number);
    ~I2cSession()
    {
        if (fd_ >= 0)
            bus_.close(fd_);
    }
    I2cSession(const I2cSession&) = delete;
    I2cSession& operator=(const I2cSession&) = delete;
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

private:
    I2cBus& bus_;
    int fd_;
};
