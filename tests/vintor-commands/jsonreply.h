// Reads a reply of the status service as a strict JSON document.
#pragma once

#include <json/json.h>

#include <memory>
#include <string>

namespace commandtest {

// An object or array and nothing behind it; false with the reason in *errors.
inline bool parseReply(const std::string& text, Json::Value* root, std::string* errors) {
    Json::CharReaderBuilder builder;
    builder["strictRoot"] = true;
    builder["failIfExtra"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    return reader->parse(text.data(), text.data() + text.size(), root, errors);
}

}  // namespace commandtest
