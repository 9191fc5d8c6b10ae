// The configuration and run-time memory trees of the configuration service and
// the answer to one request.
#pragma once

#include <json/json.h>

#include <string>
#include <vector>

class ConfigStore {
public:
    struct Answer {
        std::string reply;                // exactly one JSON text per request
        std::vector<std::string> notices; // section or branch names to announce
    };

    // configPath may be empty: then "read" and "write" answer an error.
    // nullSection, when set, is answered as null by "get" (a test switch).
    ConfigStore(std::string configPath, std::string nullSection = "");

    // Loads the trees at start; false with *why set when a file is unreadable.
    bool loadConfig(std::string* why);
    bool loadMemory(const std::string& memoryPath, std::string* why);

    Answer handle(const std::string& request);

    const Json::Value& config() const { return config_; }
    const Json::Value& memory() const { return memory_; }

private:
    Answer get(const Json::Value& query, const Json::Value& tree, bool isConfig) const;
    Answer set(const Json::Value& changes);
    Answer setmem(const Json::Value& changes);
    Answer deletemem(const Json::Value& what);
    Answer read();
    Answer write();

    std::string configPath_;
    std::string nullSection_;
    Json::Value config_{Json::objectValue};
    Json::Value memory_{Json::objectValue};
};

// Compact JSON text of a value.
std::string compactJson(const Json::Value& value);
// Parses a whole text as JSON whose every name and text is UTF-8; false with
// *why set on any fault (NOT_UTF8 for text that is not UTF-8).
bool parseJson(const std::string& text, Json::Value* out, std::string* why);
extern const char* const NOT_UTF8;
