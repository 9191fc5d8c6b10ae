// Any bytes as "vintor" frames, one per line: the averages take only finite
// samples, count each at most once per window, and publish well-formed lines.
#include "minutemeans.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MinuteMeans means;
    const char* p = reinterpret_cast<const char*>(data);
    const char* end = p + size;
    while (p < end) {
        const char* nl = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
        size_t length = nl != nullptr ? static_cast<size_t>(nl - p) : static_cast<size_t>(end - p);
        LineReading seen;
        MinutePublication out;
        size_t before = means.samples().size();
        if (means.take(p, length, &seen, &out)) {
            for (int w = 0; w < 3; w++) {
                if (out.count[w] < 0 || static_cast<size_t>(out.count[w]) > before + 1 || !std::isfinite(out.sum[w]))
                    abort();
                const std::string& line = out.lines[w];
                if (line.rfind("time=", 0) != 0 || line.back() != ';' || line.find(meanWindows[w].key) == std::string::npos)
                    abort();
            }
        }
        for (const VelocitySample& s : means.samples())
            if (!std::isfinite(s.value))
                abort();
        p += length + 1;
    }
    return 0;
}
