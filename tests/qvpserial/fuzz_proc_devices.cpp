// A device listing of any shape: read without overrun; a found driver number
// comes from a line that names the driver.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cardpower.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string listing(reinterpret_cast<const char*>(data), size);
    std::FILE* f = fmemopen(&listing[0], listing.size() + 1, "r");
    if (!f) return 0;
    const int major = qvpserial::lookupDev(f, "pcmcia");
    std::fclose(f);
    if (major != -ENODEV && listing.find("pcmcia") == std::string::npos) std::abort();
    return 0;
}
