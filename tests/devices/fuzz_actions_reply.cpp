// script-launcher's actions reply, any content: every action found is a text
// member of "actions", and each deletion request is JSON naming that command
// (exactly, for well-formed UTF-8).
#include <json/json.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher.h"
#include "utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<launcher::Action> actions;
    const launcher::ActionsReply r = launcher::parseActions(text, &actions);
    if (r != launcher::ActionsReply::Found && !actions.empty())
        abort();
    for (const auto& action : actions) {
        const std::string request = launcher::deleteRequest(action.second);
        Json::Value parsed;
        Json::Reader reader;
        if (!reader.parse(request, parsed) ||
            (isPlainUtf8(action.second) && parsed["deletemem"]["actions"].asString() != action.second))
            abort();
    }
    return 0;
}
