// climate-sensor: reads temperature and relative humidity from the sensor on
// I2C bus 2 at 0x40, publishes each reading and stores it in the
// configuration memory under "sensors".
#pragma once

#include <cstdint>
#include <string>

#include "i2c.h"

namespace climate {

constexpr int SENSOR_ADDRESS = 0x40;
constexpr uint8_t MEASURE_TEMPERATURE = 0xE3;
constexpr uint8_t MEASURE_HUMIDITY = 0xE5;

struct Options {
    std::string endpoint = "tcp://127.0.0.1:5010";
    std::string noticeEndpoint = "tcp://localhost:5011";
    int64_t delayUs = 600LL * 1000000;
    long count = -1; // readings left; -1 for ever
    bool verbose = false;
    std::string name = "climate-sensor"; // own section, without the path it was started by
    int bus = 2;
};

// The command line; false with *status set when the program ends there.
bool parseOptions(int argc, char** argv, Options* options, int* status);
// "ip:port" or a whole endpoint.
std::string endpointOf(const std::string& option);

// The sensor's two measurement bytes (the check byte is not used).
float temperatureOf(uint8_t msb, uint8_t lsb);
float humidityOf(uint8_t msb, uint8_t lsb);

// The own section of the "get" reply.
struct SensorConfig {
    std::string publisher;  // "tcp://*:" + publishers.data
    int64_t delayUs = -1;   // -1: no usable "delay"; keep the command line's
    std::string sensorName = "health";
};
// 0, or the exit status with *message set: 30 for a reply that is not JSON,
// 1 without "success" or the own section.
int parseConfigReply(const std::string& reply, const std::string& section, SensorConfig* config, std::string* message);

std::string readingLine(int64_t milliseconds, const std::string& name, float temperature, float humidity);
std::string setmemRequest(const std::string& name, float temperature, float humidity);

// The whole service; its exit status.
int run(int argc, char** argv, I2cBus& bus);

} // namespace climate
