// A configuration reply of any bytes: parsing and every lookup walk must end in
// a result, never in an exception or a crash, and a found value must be the
// string stored at that path.
#include "configclient.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    Json::Value reply;
    std::string errors;
    ConfigClient::parseReply(text, &reply, &errors);

    std::vector<std::vector<std::string>> paths = {
        {"imu", "publishers", "status"}, {"a", "b"}, {"a", "b", "c", "d", "e"}, {"", ""}, {}};
    // A path along the first member of every level, so deep replies are walked too.
    std::vector<std::string> along;
    const Json::Value* node = reply.isObject() && reply.isMember("success") ? &reply["success"] : nullptr;
    while (node != nullptr && node->isObject() && !node->empty() && along.size() < 6) {
        along.push_back(node->getMemberNames().front());
        node = &(*node)[along.back()];
    }
    for (size_t n = 1; n <= along.size(); n++)
        paths.emplace_back(along.begin(), along.begin() + static_cast<long>(n));

    for (const auto& path : paths) {
        std::string value = "unset";
        bool found = ConfigClient::find(reply, path, &value);
        if (!found)
            continue;
        // An independent walk: success and every group are objects, the leaf is
        // absent (empty text) or a string equal to the value.
        const Json::Value* v = &reply["success"];
        for (size_t i = 0; i + 1 < path.size(); i++) {
            if (!v->isObject())
                abort();
            v = &(*v)[path[i]];
        }
        if (!v->isObject())
            abort();
        if (!v->isMember(path.back()) ? !value.empty() : value != (*v)[path.back()].asString())
            abort();
    }
    return 0;
}
