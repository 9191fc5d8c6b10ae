#include "expander.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>

#include "cmdline.h"

namespace expander {

namespace {

void usage(const char* name)
{
    fprintf(stderr, "\nUsage: %s <option(s)> SOURCES\n", name);
    fprintf(stderr,
            "Options:\n"
            "\t-h,--help\t\tShow this help message\n"
            "\t-i\t\tI2C-BUS selection defaults to 2\n"
            "\t-a\t\tI2C-ADDR addres defaults to 0x70\n"
            "\t-c\t\tDirection configuration (0-255) bit: 0=output; 1=input\n"
            "\t-p\t\tPin to set (0-7)\n"
            "\t-s\t\tValue to set (0-1)\n"
            "\t-t\t\tPin to toggle (0-7)\n"
            "\t-r\t\tRead Values, reads all 8 bits at once\n"
            "\t-x\t\tDisplays the read as hex value\n"
            "\t-X\t\tDisplays the read as hex value\n"
            "\t-b\t\tDisplays the read as hex value\n"
            "\t-d\t\tDisplays the read as decimal value\n"
            "\t-f\t\tSet all pins at once (0-255), if direction alows it\n"
            "\nExample usage:\n");
    fprintf(stderr, "\t%s -p2 -r -b\n", name);
    fprintf(stderr, "\t%s -p2 -s0\n", name);
    fprintf(stderr, "\t%s -p2 -s1\n", name);
    fprintf(stderr, "\t%s -t2\n", name);
    fprintf(stderr, "\t%s -a113 -p2 -s1\n", name);
}

} // namespace

bool parseCommand(int argc, char** argv, Command* c, int* status)
{
    const char* name = argc > 0 && argv[0] ? argv[0] : "gpio-expander";
    opterr = 0;
    optind = 0; // a fresh scan, also when called again in one process
    int option;
    while ((option = getopt(argc, argv, "hrbdxXa:f:s:i:c:p:t:")) != -1) {
        switch (option) {
        case 'p':
        case 't': {
            int pin = -1;
            // A negative pin would shift by a negative count: refused like one above 7.
            if (!parseWholeNumber(optarg, &pin) || pin < 0 || pin > 7) {
                fprintf(stderr, "Pinnr must be between 0 - 7 `-%c'.\n", option);
                *status = 1;
                return false;
            }
            c->pinMask = static_cast<uint8_t>(1u << pin);
            if (option == 't')
                c->action = 't';
            break;
        }
        case 's':
        case 'f':
        case 'c':
        case 'i':
        case 'a': {
            // Anything but a whole decimal number ("0x70", "15x", "", "on") is
            // refused by name: read as 0 it would drive the chip with a value
            // nobody asked for. Bus and address are ints, the bytes their low 8 bits.
            const bool isInt = option == 'i' || option == 'a';
            long v = 0;
            if (!numberOption(option, optarg, isInt ? INT_MIN : LONG_MIN, isInt ? INT_MAX : LONG_MAX, &v)) {
                *status = 1;
                return false;
            }
            if (option == 's') {
                c->action = 's';
                c->value = v != 0 ? 0xFF : 0x00;
            } else if (option == 'f') {
                c->action = 'f';
                c->value = static_cast<int>(v & 0xFF);
            } else if (option == 'c') {
                c->action = 'c';
                c->direction = static_cast<uint8_t>(v & 0xFF);
            } else if (option == 'i') {
                c->bus = static_cast<int>(v);
            } else {
                c->address = static_cast<int>(v);
            }
            break;
        }
        case 'r':
            c->action = 'r';
            break;
        case 'x':
        case 'X':
        case 'b':
        case 'd':
            c->display = static_cast<char>(option);
            break;
        case 'h':
            usage(name);
            *status = 1;
            return false;
        default:
            if (optopt == 'b' || optopt == 'c')
                fprintf(stderr, "\nOption -%c requires an argument.\n", optopt);
            else if (isprint(optopt))
                fprintf(stderr, "\nUnknown option `-%c'.\n", optopt);
            else
                fprintf(stderr, "\nUnknown option character `\\x%x'.\n", static_cast<unsigned>(optopt));
            usage(name);
            *status = 1;
            return false;
        }
    }
    return true;
}

namespace {

int writeRegister(I2cBus& bus, int fd, int reg, uint8_t value)
{
    const uint8_t bytes[2] = {static_cast<uint8_t>(reg), value};
    if (bus.write(fd, bytes, 2) != 2) {
        printf("*Could not write register %d\n", reg);
        return -1;
    }
    return 0;
}

} // namespace

int writeDirection(I2cBus& bus, int fd, int address, uint8_t direction)
{
    if (i2cSelect(bus, fd, address) < 0)
        return -1;
    return writeRegister(bus, fd, REG_DIRECTION, direction);
}

int readPorts(I2cBus& bus, int fd, int address, uint8_t* input, uint8_t* output)
{
    if (i2cSelect(bus, fd, address) < 0)
        return -1;
    uint8_t buffer[2];
    // Assumes the chip steps its register pointer from input to output.
    if (i2cCommandRead(bus, fd, REG_INPUT, buffer, 2) != 2) {
        printf("*Could not read the ports\n");
        return -1;
    }
    *input = buffer[0];
    *output = buffer[1];
    return 0;
}

int togglePins(I2cBus& bus, int fd, int address, uint8_t mask)
{
    uint8_t input, output;
    // Without the current output nothing is written: other pins would change.
    if (readPorts(bus, fd, address, &input, &output) < 0)
        return -1;
    return writeRegister(bus, fd, REG_OUTPUT, static_cast<uint8_t>(output ^ mask));
}

int setPins(I2cBus& bus, int fd, int address, uint8_t mask, uint8_t value)
{
    uint8_t input, output;
    if (readPorts(bus, fd, address, &input, &output) < 0)
        return -1;
    return writeRegister(bus, fd, REG_OUTPUT, static_cast<uint8_t>((output & ~mask) | (value & mask)));
}

namespace {

int readAndShow(I2cBus& bus, int fd, const Command& c)
{
    uint8_t input, output;
    if (readPorts(bus, fd, c.address, &input, &output) < 0)
        return -1;
    unsigned both = input | (output << 8);
    switch (c.display) {
    case 'b':
        for (int bit = 7; bit >= 0; bit--)
            putchar((input >> bit) & 1 ? '1' : '0');
        break;
    case 'X':
        printf("%X\n", both);
        break;
    case 'd':
        printf("%d\n", both);
        break;
    default:
        printf("%x\n", both);
        break;
    }
    return 0;
}

} // namespace

int run(int argc, char** argv, I2cBus& bus)
{
    Command c;
    int status = 0;
    if (!parseCommand(argc, argv, &c, &status))
        return status;
    I2cSession session(bus, c.bus);
    if (!session.ok())
        return 1;
    const int fd = session.fd();
    int result = 0;
    switch (c.action) {
    case 'c':
        result = writeDirection(bus, fd, c.address, c.direction);
        break;
    case 'f':
        result = setPins(bus, fd, c.address, 0xFF, static_cast<uint8_t>(c.value));
        break;
    case 's':
        result = setPins(bus, fd, c.address, c.pinMask, static_cast<uint8_t>(c.value));
        break;
    case 't':
        result = togglePins(bus, fd, c.address, c.pinMask);
        break;
    case 'r':
        result = readAndShow(bus, fd, c);
        break;
    default:
        usage(argc > 0 && argv[0] ? argv[0] : "gpio-expander");
        break;
    }
    fflush(stdout);
    return result < 0 ? 1 : 0;
}

} // namespace expander
