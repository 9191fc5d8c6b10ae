// Requests to the configuration stand-in, any bytes, one per line, handled in
// order by one store: every request gets exactly one JSON object holding
// "success" or "error", never an exception, and no answer outgrows what the
// requests so far could have stored.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "configrequest.h"
#include "configstore.h"
#include "fuzzing.h"

using fuzzing::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    ConfigStore store("");
    size_t taken = 0;
    for (size_t start = 0; start <= input.size();) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        const std::string request = input.substr(start, end - start);
        taken += request.size();
        const ConfigStore::Answer answer = store.handle(request);
        Json::Value reply;
        check(parseStrictJson(answer.reply, &reply));
        check(reply.isObject() && reply.size() == 1 && (reply.isMember("success") || reply.isMember("error")));
        // A stored text is at most six times as long written ("\u0001"), plus the braces around it.
        check(answer.reply.size() <= 6 * taken + 64);
        check(answer.notices.size() <= request.size());
        start = end + 1;
    }
    return 0;
}
