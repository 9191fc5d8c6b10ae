// button-handler's two replies, any content: the documented statuses, a GPIO
// number only from a whole decimal text, and a restore request that is JSON
// carrying the saved LED text (unchanged, for well-formed UTF-8).
#include <json/json.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "service.h"
#include "utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    button::ButtonConfig config;
    std::string message;
    const int status = button::parseButtonReply(text, &config, &message);
    if (status == 0 ? config.gpio < 0 : (status != 1 && status != 3) || message.empty())
        abort();
    std::string led;
    if (button::parseLedReply(text, &led)) {
        const std::string request = button::ledRequest(button::Led::Restore, led);
        Json::Value parsed;
        Json::Reader reader;
        if (!reader.parse(request, parsed) || (isPlainUtf8(led) && parsed["setmem"]["status"]["led"].asString() != led))
            abort();
    }
    return 0;
}
