// Requests to the configuration stand-in, any bytes, one per line, handled in
// order by one store: every request gets exactly one JSON object holding
// "success" or "error", never an exception, and no answer outgrows what the
// requests so far could have stored. A refused request changes nothing and
// announces nothing; no request makes a section anything but an object or
// gives a stored value, other than null, another kind.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "configrequest.h"
#include "configstore.h"
#include "fuzzing.h"

using fuzzing::check;

namespace {

bool isNumber(const Json::Value& v) {
    return v.type() == Json::intValue || v.type() == Json::uintValue || v.type() == Json::realValue;
}

// Every value of `before` is still in `after`, of the same kind; a null may have become anything.
bool keptKinds(const Json::Value& before, const Json::Value& after) {
    if (before.isNull()) return true;
    if (before.type() != after.type() && !(isNumber(before) && isNumber(after))) return false;
    if (!before.isObject()) return true;
    for (auto it = before.begin(); it != before.end(); ++it)
        if (!after.isMember(it.name()) || !keptKinds(*it, after[it.name()])) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    ConfigStore store("");
    size_t taken = 0;
    for (size_t start = 0; start <= input.size();) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        const std::string request = input.substr(start, end - start);
        taken += request.size();
        const Json::Value config = store.config(), memory = store.memory();
        const ConfigStore::Answer answer = store.handle(request);
        Json::Value reply;
        check(parseStrictJson(answer.reply, &reply));
        check(reply.isObject() && reply.size() == 1 && (reply.isMember("success") || reply.isMember("error")));
        if (reply.isMember("error"))
            check(store.config() == config && store.memory() == memory && answer.notices.empty());
        check(keptKinds(config, store.config()));
        for (auto it = store.config().begin(); it != store.config().end(); ++it) check(it->isObject());
        // A stored text is at most six times as long written ("\u0001"), plus the braces around it.
        check(answer.reply.size() <= 6 * taken + 64);
        check(answer.notices.size() <= request.size());
        start = end + 1;
    }
    return 0;
}
