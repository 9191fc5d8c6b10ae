// /proc/apm text of any shape: parsed without overrun; a parsed status packs
// into the documented bit fields.
#include <cstdlib>
#include <string>

#include "cardpower.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    int32_t packed = 0;
    if (!qvpserial::packApm(text.c_str(), &packed)) return 0;
    const uint32_t status = (static_cast<uint32_t>(packed) >> 8) & 0xFF;
    if (status != 0 && status != 0x01 && status != 0x04 && status != 0x08 && status != 0x02 && status != 0xFF)
        std::abort();
    return 0;
}
