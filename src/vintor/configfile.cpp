#include "configfile.h"

#include <json/json.h>

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <utility>

#include "configrequest.h"
#include "misc.h"

namespace {

// One connection to the service for one or more exchanges. No time-out: a
// silent service holds the program; a failed exchange ends it with status 3.
class ServiceLink {
public:
    explicit ServiceLink(int port) : request_(localEndpoint(port), textReplies()) {}

    // Sends the request up to its first NUL; the reply text ends at its first NUL.
    std::string exchange(const std::string& request) {
        std::string reply;
        switch (request_.exchange(request.substr(0, strnlen(request.c_str(), request.size())), &reply)) {
        case ConfigRequest::Ok:
            return reply;
        case ConfigRequest::ConnectFailed:
            fail("zmq_connect");
        case ConfigRequest::SendFailed:
            fail("configuration request send");
        default:
            fail("configuration reply receive");
        }
    }

private:
    static ConfigRequest::Options textReplies() {
        ConfigRequest::Options o;
        o.textReply = true;
        return o;
    }
    [[noreturn]] void fail(const char* what) {
        errno = request_.error();
        perror(what);
        exit(3);
    }
    ConfigRequest request_;
};

const char* const kGeneralRequest = "{\"get\":{\"general\":\"\"}}";
const char* const kSectionsRequest =
    "{\"get\":{\"vintor\":\"\",\"radar\":\"\",\"radar2\":\"\",\"radar3\":\"\",\"read-only\":\"\"}}";

std::string trimTail(std::string s) {
    size_t end = s.find_last_not_of(" \n\r\t");
    s.erase(end == std::string::npos ? 0 : end + 1);
    return s;
}

// A string is kept as its own text; other values as their styled JSON without quotes.
std::string valueText(const Json::Value& v) {
    if (v.isString()) return trimTail(v.asString());
    std::string styled = v.toStyledString();
    std::string out;
    out.reserve(styled.size());
    for (char c : styled)
        if (c != '"') out += c;
    return trimTail(out);
}

// Keeps every member of `group` as text under "section/key" and reports it.
void storeGroup(const std::string& section, const Json::Value& group, std::map<std::string, std::string>* content) {
    for (const std::string& k : group.getMemberNames()) {
        std::string text = valueText(group[k]);
        printf("Keys: %s/%s=%s\n", section.c_str(), k.c_str(), text.c_str());
        (*content)[section + "/" + k] = std::move(text);
    }
}

// "radar", "radar2", "radar3" of the service are radar0..radar2 of the program.
const char* radarSection(const std::string& name) {
    if (name == "radar") return "radar0";
    if (name == "radar2") return "radar1";
    if (name == "radar3") return "radar2";
    return nullptr;
}

// A reply that does not parse leaves the program without settings: it runs,
// but starts no stage, and this line is what tells why.
int notJson() {
    printf("\nConfiguration reply does not parse as JSON\n");
    return 3;
}

void reportNotObject(const std::string& name, const Json::Value& v) {
    printf("%s == null %s\n", name.c_str(), v.toStyledString().c_str());
}

template <typename T>
std::string streamText(T value) {
    std::ostringstream os;
    os << value;
    return os.str();
}

}  // namespace

ConfigFile::ConfigFile() : usingMemcache(1), confport(0), subscport(0) {}

ConfigFile::ConfigFile(int lconfport, int lsubscport)
    : usingMemcache(0), confport(lconfport), subscport(lsubscport) {}

int ConfigFile::readConfig() {
    usingMemcache = 0;
    ServiceLink link(confport);
    sectionList_.clear();
    content_.clear();

    Json::Value root;
    if (!parseReply(link.exchange(kGeneralRequest), &root)) return notJson();

    std::string reply = link.exchange(kSectionsRequest);
    printf("Received: %s\n", reply.c_str());
    return takeSections(reply);
}

int ConfigFile::takeSections(const std::string& reply) {
    static const char kSuccess[] = "success";
    Json::Value root;
    if (!parseReply(reply, &root)) return notJson();

    const Json::Value* success = root.isObject() ? root.find(kSuccess, kSuccess + sizeof kSuccess - 1) : nullptr;
    if (success == nullptr || !(success->isObject() || success->isNull())) {
        printf("\nConfiguration reply holds no \"success\" object\n");
        return 3;
    }
    if (success->isNull()) return 0;

    for (const std::string& name : success->getMemberNames()) {
        const Json::Value& m = (*success)[name];
        if (const char* section = radarSection(name)) {
            if (name == "radar") sectionList_[section] = "1";
            if (!m.isObject()) {
                if (!(name == "radar" && m.isNull())) reportNotObject(name, m);
                continue;
            }
            sectionList_[section] = "1";
            storeGroup(section, m, &content_);
        } else if (name == "read-only") {
            printf("readonly: \n");
            if (!m.isObject()) continue;
            for (const char* group : {"radar", "radar2", "radar3"}) {
                const Json::Value* g = m.find(group, group + strlen(group));
                if (g == nullptr || !g->isObject()) continue;
                std::vector<std::string> keys = g->getMemberNames();
                printf("Keys: %s\n", keys.empty() ? "" : keys.front().c_str());
                const char* section = radarSection(group);
                for (const std::string& k : keys) {
                    const Json::Value& v = (*g)[k];
                    printf("Keys: %s/%s=%s\n", section, k.c_str(), v.toStyledString().c_str());
                    content_[std::string(section) + "/" + k] = valueText(v);
                }
            }
        } else {
            if (!m.isObject()) continue;
            for (const std::string& group : m.getMemberNames()) {
                const Json::Value& g = m[group];
                if (!g.isObject()) continue;
                sectionList_[group] = "1";
                storeGroup(group, g, &content_);
            }
        }
    }
    return 0;
}

int ConfigFile::writeConfig() {
    ServiceLink link(confport);
    Json::Value root;
    if (parseReply(link.exchange("{ \"write\": \"\" }"), &root) && root.isObject() && root.isMember("success"))
        return 0;
    return 1;
}

int ConfigFile::sendMessage(std::string message) {
    ServiceLink link(confport);
    link.exchange(message);
    return 0;
}

int ConfigFile::SectionExists(std::string section) {
    return sectionList_.count(section) ? 1 : 0;
}

const std::string* ConfigFile::find(const std::string& section, const std::string& entry) const {
    auto it = content_.find(section + "/" + entry);
    return it == content_.end() ? nullptr : &it->second;
}

void ConfigFile::Value(const std::string& section, const std::string& entry, std::string* S) {
    if (const std::string* v = find(section, entry)) *S = *v;
}

void ConfigFile::ValueString(const std::string& section, const std::string& entry, std::string* ret) {
    if (const std::string* v = find(section, entry)) {
        *ret = *v;
        return;
    }
    printf("\nParameter %s , %s does not exist", section.c_str(), entry.c_str());
    ret->clear();
}

// Conversions stop at the first character that does not fit, as atoi does,
// but saturate instead of overflowing.
int ConfigFile::ValueInt(const std::string& section, const std::string& entry) {
    const std::string* v = find(section, entry);
    if (v == nullptr) return 0;
    long n = strtol(v->c_str(), nullptr, 10);
    if (n > INT_MAX) return INT_MAX;
    if (n < INT_MIN) return INT_MIN;
    return static_cast<int>(n);
}

long ConfigFile::ValueLong(const std::string& section, const std::string& entry) {
    const std::string* v = find(section, entry);
    return v == nullptr ? 0 : strtol(v->c_str(), nullptr, 10);
}

long long ConfigFile::ValueLongLong(const std::string& section, const std::string& entry) {
    const std::string* v = find(section, entry);
    return v == nullptr ? 0 : strtoll(v->c_str(), nullptr, 10);
}

float ConfigFile::ValueFloat(const std::string& section, const std::string& entry) {
    double d = ValueDouble(section, entry);
    if (d > FLT_MAX) return HUGE_VALF;
    if (d < -FLT_MAX) return -HUGE_VALF;
    return static_cast<float>(d);
}

double ConfigFile::ValueDouble(const std::string& section, const std::string& entry) {
    const std::string* v = find(section, entry);
    return v == nullptr ? 0.0 : strtod(v->c_str(), nullptr);
}

void ConfigFile::store(const std::string& section, const std::string& entry, const std::string& text) {
    content_[section + "/" + entry] = text;
    sectionList_.emplace(section, "1");
}

int ConfigFile::setValue(const std::string& section, const std::string& entry, float value) {
    if (usingMemcache == 0) store(section, entry, streamText(static_cast<double>(value)));
    return 0;
}

int ConfigFile::setValue(const std::string& section, const std::string& entry, int value) {
    if (usingMemcache == 0) store(section, entry, streamText(value));
    return 0;
}

int ConfigFile::setValue(const std::string& section, const std::string& entry, long value) {
    store(section, entry, streamText(value));
    return 0;
}

int ConfigFile::setValue(const std::string& section, const std::string& entry, long long value) {
    store(section, entry, streamText(value));
    return 0;
}

int ConfigFile::setValue(const std::string& section, const std::string& entry, double value) {
    store(section, entry, streamText(value));
    return 0;
}

int ConfigFile::setValue(const std::string& section, const std::string& entry, std::string value) {
    store(section, entry, value);
    return 0;
}

// Unlike the shared splitter, an empty delimiter gives no parts at all.
std::vector<std::string> ConfigFile::explode(const std::string& delimiter, const std::string& str) {
    if (delimiter.empty()) return {};
    return util::explode(delimiter, str);
}
