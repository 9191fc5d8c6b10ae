// gpio-expander: one action on an 8-bit I2C GPIO expander (registers 0 input,
// 1 output, 3 direction).
#pragma once

#include <cstdint>

#include "i2c.h"

namespace expander {

constexpr int REG_INPUT = 0;
constexpr int REG_OUTPUT = 1;
constexpr int REG_DIRECTION = 3;

// What one command line asks for.
struct Command {
    int bus = 2;
    int address = 112;
    char action = 0;      // 0 none, 'c' direction, 'f' all pins, 'r' read, 's' set pin, 't' toggle pin
    uint8_t pinMask = 0x01;
    int value = 0;        // -s or -f argument
    uint8_t direction = 0;
    char display = 'x';   // 'x', 'X', 'b' or 'd'
};

// Parses the command line; false with *status set when the program must end
// there (messages already printed on standard error).
bool parseCommand(int argc, char** argv, Command* command, int* status);

// The register operations; each first selects the chip. Negative on failure.
int writeDirection(I2cBus& bus, int fd, int address, uint8_t direction);
int readPorts(I2cBus& bus, int fd, int address, uint8_t* input, uint8_t* output);
int togglePins(I2cBus& bus, int fd, int address, uint8_t mask);
int setPins(I2cBus& bus, int fd, int address, uint8_t mask, uint8_t value);

// The whole tool: exit status.
int run(int argc, char** argv, I2cBus& bus);

} // namespace expander
