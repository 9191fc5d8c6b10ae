// Configuration client of the IMU services: one request for a list of sections,
// then single values by path. A missing section or group on a path ends the
// program with a message naming the path; a missing last key gives "".
#pragma once

#include <json/json.h>

#include <string>
#include <vector>

class ConfigClient {
public:
    // mode 0 asks with "get", any other with "getmem". The quiet form prints only
    // the first line of a reply's failure, without the parser's messages.
    ConfigClient(int confport, int subport, int mode, bool quiet = false);

    void setVerbose(int flag);

    // One request for the named sections on a fresh socket to
    // tcp://localhost:<confport>, waiting as long as the service takes. 0 when the
    // reply parsed, 3 when not ("Failed to parse JSON\r\n" on standard output);
    // a reply that parsed but holds no "success" object is 0 and says so on a
    // line of its own. exit(3) when the send or receive fails.
    int requestSections(const std::string* sections, int count);
    // Asks the service to write its configuration; 0.
    int requestWrite();

    // success/section/.../key of the latest reply: the text of a JSON string, ""
    // when the last name is absent. Anything else on the path prints
    // "No <names joined by ','> data found!\r\n" and exits with 1.
    std::string lookup(const std::string& section, const std::string& key);
    std::string lookup(const std::string& section, const std::string& group, const std::string& key);
    std::string lookup(const std::string& section, const std::string& group1, const std::string& group2,
                       const std::string& key);
    std::string lookup(const std::string& section, const std::string& group1, const std::string& group2,
                       const std::string& group3, const std::string& key);

    // As explode of the services' text helpers.
    static std::vector<std::string> explode(const std::string& delimiter, const std::string& text);

    // The value at success/names... of a reply; null where a name is absent or a
    // level on the way is not an object. Never throws.
    static const Json::Value* at(const Json::Value& reply, const std::vector<std::string>& names);
    // The walk of lookup without ending the process: false where lookup fails.
    static bool find(const Json::Value& reply, const std::vector<std::string>& names, std::string* value);
    // Parses a reply as the client does; false with the reader's messages in *errors.
    static bool parseReply(const std::string& text, Json::Value* reply, std::string* errors);

    const Json::Value& lastReply() const { return reply; }
    // The service's notice port, kept for the programs that subscribe themselves.
    int noticePort() const { return subport; }

private:
    std::string exchange(const std::string& request);
    std::string lookupPath(const std::vector<std::string>& names);

    int mode;
    int confport;
    int subport;
    Json::Value reply;
    std::string message;
    std::string value;
    int verbose = 0;
    bool quiet;
};
