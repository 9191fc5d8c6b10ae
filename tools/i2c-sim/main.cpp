// i2c-sim: runs a station I2C program against the simulated bus instead of
// /dev/i2c-N, with the chips' registers and faults given on the command line,
// and records every write the chips received.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "numbers.h"

#include "climate.h"
#include "expander.h"
#include "i2csim.h"

namespace {

using Entry = int (*)(int, char**, I2cBus&);
struct Program {
    const char* name;
    Entry entry;
};
const Program PROGRAMS[] = {
    {"gpio-expander", expander::run},
    {"climate-sensor", climate::run},
};

void usage(const char* name)
{
    fprintf(stderr,
            "Use: %s [options] <program> [program options]\n"
            " programs: gpio-expander, climate-sensor\n"
            " --input B          expander pin levels on its input pins\n"
            " --output B         expander output register\n"
            " --direction B      expander direction register (1 = input)\n"
            " --temperature B,B,B  sensor answer to command 0xE3\n"
            " --humidity B,B,B     sensor answer to command 0xE5\n"
            " --conversion MS    each sensor measurement takes MS milliseconds\n"
            " --fault open|slave|read|short-read|write\n"
            " --log FILE         each write the chips received, \"address: bytes\" in hex\n"
            " --device PATTERN   no simulation: the i2c-dev node of bus N, e.g. /dev/i2c-%%d\n"
            " numbers are decimal or 0x hexadecimal\n",
            name);
}

bool byteOf(const char* text, uint8_t* out)
{
    char* end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 0);
    if (errno != 0 || end == text || (*end != '\0' && *end != ',') || v < 0 || v > 255)
        return false;
    *out = static_cast<uint8_t>(v);
    return true;
}

bool threeBytes(const char* text, std::array<uint8_t, 3>* out)
{
    for (size_t i = 0; i < 3; i++) {
        if (!byteOf(text, &(*out)[i]))
            return false;
        text = strchr(text, ',');
        if ((text == nullptr) != (i == 2))
            return false;
        if (text)
            text++;
    }
    return true;
}

bool faultOf(const std::string& text, SimulatedBus::Fault* out)
{
    static const struct {
        const char* name;
        SimulatedBus::Fault fault;
    } faults[] = {{"open", SimulatedBus::Fault::Open},   {"slave", SimulatedBus::Fault::Slave},
                  {"read", SimulatedBus::Fault::Read},   {"short-read", SimulatedBus::Fault::ShortRead},
                  {"write", SimulatedBus::Fault::Write}};
    for (const auto& f : faults)
        if (text == f.name) {
            *out = f.fault;
            return true;
        }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    SimulatedBus sim;
    std::string logPath, device;
    int i = 1;
    for (; i + 1 < argc && strncmp(argv[i], "--", 2) == 0; i += 2) {
        std::string option = argv[i];
        const char* value = argv[i + 1];
        bool ok = true;
        if (option == "--input")
            ok = byteOf(value, &sim.inputLevels);
        else if (option == "--output")
            ok = byteOf(value, &sim.expanderRegisters[1]);
        else if (option == "--direction")
            ok = byteOf(value, &sim.expanderRegisters[3]);
        else if (option == "--temperature")
            ok = threeBytes(value, &sim.temperatureBytes);
        else if (option == "--humidity")
            ok = threeBytes(value, &sim.humidityBytes);
        else if (option == "--fault")
            ok = faultOf(value, &sim.fault);
        else if (option == "--conversion")
            ok = parseWholeNumber(value, &sim.conversionMs, 0);
        else if (option == "--log")
            logPath = value;
        else if (option == "--device")
            device = value;
        else
            ok = false;
        if (!ok) {
            usage(argv[0]);
            return 2;
        }
    }
    if (i >= argc) {
        usage(argv[0]);
        return 2;
    }
    I2cDevBus real(device);
    I2cBus& bus = device.empty() ? static_cast<I2cBus&>(sim) : real;
    for (const Program& p : PROGRAMS) {
        if (strcmp(argv[i], p.name) != 0)
            continue;
        int status = p.entry(argc - i, argv + i, bus);
        fflush(stdout);
        if (!logPath.empty()) {
            std::ofstream log(logPath, std::ios::binary | std::ios::trunc);
            log << sim.writeLog();
        }
        return status;
    }
    usage(argv[0]);
    return 2;
}
