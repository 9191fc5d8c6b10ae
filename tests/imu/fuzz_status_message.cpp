// Status feed messages of any bytes, one per line: the sentinel skips what has
// no status word or one without a digit (no bit counted), and every restart
// request carries the message's own time.
#include "statuswatcher.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::map<int, bitrule_st> rules;
    const char* actions[] = {"log", "reboot", "none", ""};
    for (int b = 0; b < 32; b++)
        rules[b] = bitrule_st{"P", actions[b % 4], "D", b % 5};
    std::string current;
    StatusWatcher watcher(rules, false,
                          {[](const std::string&) {},
                           [](const std::string& alert) {
                               if (alert.compare(0, 17, "WARNING, action:'") != 0)
                                   abort();
                           },
                           [&current](const std::string& action) {
                               if (action != current.substr(0, current.find(',')) + ",reboot")
                                   abort();
                           },
                           [](const std::string&) {}});
    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t from = 0;
    while (from <= text.size()) {
        size_t nl = text.find('\n', from);
        current = text.substr(from, nl == std::string::npos ? std::string::npos : nl - from);
        uint8_t before[32];
        for (int b = 0; b < 32; b++)
            before[b] = watcher.zeroCount(b);
        watcher.handle(current);
        const size_t c1 = current.find(','), c2 = c1 == std::string::npos ? c1 : current.find(',', c1 + 1);
        const std::string word = c2 == std::string::npos ? "" : current.substr(c2 + 1, current.find(',', c2 + 1) - c2 - 1);
        if (word.find_first_of("0123456789") == std::string::npos)
            for (int b = 0; b < 32; b++)
                if (watcher.zeroCount(b) != before[b])
                    abort();
        if (nl == std::string::npos)
            break;
        from = nl + 1;
    }
    return 0;
}
