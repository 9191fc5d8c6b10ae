// climate-sensor's configuration reply and sensor bytes, any content: a status
// from the documented set, a usable section when 0, values within the sensor's
// range.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "climate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    climate::SensorConfig c;
    std::string message;
    const int status = climate::parseConfigReply(text, "climate-sensor", &c, &message);
    if (status != 0 && status != 1 && status != 30)
        abort();
    if (status != 0 && message.empty())
        abort();
    if (status == 0 && (c.publisher.compare(0, 8, "tcp://*:") != 0 || c.delayUs < -1 || c.sensorName.empty()))
        abort();
    if (size >= 2) {
        const float t = climate::temperatureOf(data[0], data[1]);
        const float h = climate::humidityOf(data[0], data[1]);
        if (!(t >= -46.85f && t < 128.87f && h >= -6.0f && h < 119.0f))
            abort();
    }
    return 0;
}
