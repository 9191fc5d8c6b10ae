// A simulated I2C bus carrying the station's two chips, modelled from their
// register descriptions: the temperature and humidity sensor at 0x40 (command
// 0xE3 or 0xE5, then three bytes) and the 8-bit GPIO expander at 0x70
// (registers 0 input, 1 output, 2 polarity, 3 direction; a 1 bit is an input).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "i2c.h"

class SimulatedBus : public I2cBus {
public:
    static constexpr int SENSOR_ADDRESS = 0x40;
    static constexpr int EXPANDER_ADDRESS = 0x70;

    // One transfer as the chips saw it.
    struct Transfer {
        bool write;
        int address;
        std::vector<uint8_t> bytes;
    };

    // Faults to inject.
    enum class Fault { None, Open, Slave, Read, ShortRead, Write };

    explicit SimulatedBus(int busNumber = 2) : busNumber_(busNumber) {}

    // Sensor: the three bytes each measurement command answers.
    std::array<uint8_t, 3> temperatureBytes{{0, 0, 0}};
    std::array<uint8_t, 3> humidityBytes{{0, 0, 0}};
    // Expander: levels on pins configured as inputs, and its registers.
    uint8_t inputLevels = 0;
    std::array<uint8_t, 4> expanderRegisters{{0, 0xFF, 0, 0xFF}}; // power-up values
    Fault fault = Fault::None;
    // A measurement read waits this long, as the sensor holds the bus while it converts.
    int conversionMs = 0;

    int openBus(int bus) override;
    int close(int fd) override;
    int setSlave(int fd, int address) override;
    int tenBit(int fd, bool on) override;
    int read(int fd, uint8_t* buffer, int n) override;
    int write(int fd, const uint8_t* data, int n) override;

    const std::vector<Transfer>& transfers() const { return transfers_; }
    // Every write as "address: b0 b1 ..." in hexadecimal, one per line.
    std::string writeLog() const;
    // The input port as the chip reports it: outputs read back, inputs as driven.
    uint8_t inputPort() const;
    bool isOpen() const { return openFd_ >= 0; }

private:
    bool valid(int fd) const { return fd >= 0 && fd == openFd_; }

    int busNumber_;
    int openFd_ = -1;
    int nextFd_ = 3;
    int slave_ = -1;
    int sensorCommand_ = -1;
    int expanderPointer_ = 0;
    std::vector<Transfer> transfers_;
};
