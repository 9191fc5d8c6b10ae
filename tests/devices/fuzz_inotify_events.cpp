// A buffer of directory events, any bytes: the events parsed never reach past
// the buffer and their names hold no NUL.
#include <sys/inotify.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "launcher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<launcher::Event> events = launcher::parseEvents(reinterpret_cast<const char*>(data), size);
    size_t consumed = 0;
    for (const auto& e : events) {
        if (e.name.find('\0') != std::string::npos)
            abort();
        uint32_t len;
        memcpy(&len, data + consumed + offsetof(inotify_event, len), sizeof len);
        consumed += sizeof(inotify_event) + len;
        if (consumed > size || e.name.size() > len)
            abort();
        launcher::maskNames(e.mask);
    }
    return 0;
}
