#include "configstore.h"

#include "configrequest.h"
#include "utf8.h"
#include "wholefile.h"

#include <cstdio>
#include <fstream>
#include <memory>

std::string compactJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

namespace {

// Every member name and text of a tree is UTF-8. The writer puts U+FFFD in
// place of anything else, so two names that differ only there would be
// answered as one name twice, which a strict reader refuses whole.
bool allUtf8(const Json::Value& value)
{
    if (value.isString()) {
        const char* begin = nullptr;
        const char* end = nullptr;
        return value.getString(&begin, &end) && isUtf8(begin, static_cast<std::size_t>(end - begin));
    }
    if (value.isObject()) {
        for (auto it = value.begin(); it != value.end(); ++it) {
            const char* nameEnd = nullptr;
            const char* name = it.memberName(&nameEnd);
            if (!isUtf8(name, static_cast<std::size_t>(nameEnd - name)) || !allUtf8(*it))
                return false;
        }
    } else if (value.isArray()) {
        for (const auto& item : value)
            if (!allUtf8(item))
                return false;
    }
    return true;
}

} // namespace

const char* const NOT_UTF8 = "text that is not UTF-8";

bool parseJson(const std::string& text, Json::Value* out, std::string* why)
{
    Json::Value value;
    if (!parseStrictJson(text, &value, why))
        return false;
    if (!allUtf8(value)) {
        *why = NOT_UTF8;
        return false;
    }
    *out = std::move(value);
    return true;
}

namespace {

ConfigStore::Answer errorAnswer(const std::string& message)
{
    Json::Value root(Json::objectValue);
    root["error"] = message;
    return {compactJson(root), {}};
}

ConfigStore::Answer successAnswer(const Json::Value& content, std::vector<std::string> notices = {})
{
    Json::Value root(Json::objectValue);
    root["success"] = content;
    return {compactJson(root), std::move(notices)};
}

bool readJsonFile(const std::string& path, Json::Value* out, std::string* why)
{
    std::string text;
    if (!readWholeFile(path, &text)) {
        *why = "cannot open " + path;
        return false;
    }
    Json::Value value;
    if (!parseJson(text, &value, why)) {
        *why = path + ": " + *why;
        return false;
    }
    if (!value.isObject()) {
        *why = path + ": not a JSON object";
        return false;
    }
    *out = value;
    return true;
}

// The members a query names; a member whose query is not an object is taken whole.
Json::Value select(const Json::Value& tree, const Json::Value& query)
{
    if (!query.isObject() || !tree.isObject())
        return tree;
    Json::Value out(Json::objectValue);
    for (const auto& name : query.getMemberNames()) {
        if (!tree.isMember(name))
            continue;
        const Json::Value& sub = query[name];
        out[name] = (sub.isObject() && !sub.empty()) ? select(tree[name], sub) : tree[name];
    }
    return out;
}

// The kind of a value, as a refusal names it; a number is one kind, whole or not.
const char* kindOf(const Json::Value& v)
{
    switch (v.type()) {
    case Json::nullValue: return "null";
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue: return "a number";
    case Json::stringValue: return "a text";
    case Json::booleanValue: return "true or false";
    case Json::arrayValue: return "an array";
    case Json::objectValue: break;
    }
    return "an object";
}

// Why merging `change` into `stored` (at `path`) would lose what is stored, or ""
// when it may: an object merges member by member, any other value replaces only
// a value of its own kind, and a new member or a null takes any value.
std::string lossOf(const Json::Value& stored, const Json::Value& change, const std::string& path)
{
    if (stored.isNull())
        return "";
    if (std::string(kindOf(stored)) != kindOf(change))
        return "set of " + path + " refused: " + kindOf(change) + " cannot replace " + kindOf(stored);
    if (!change.isObject())
        return "";
    for (auto it = change.begin(); it != change.end(); ++it) {
        const std::string name = it.name();
        if (!stored.isMember(name))
            continue;
        std::string why = lossOf(stored[name], *it, path + "/" + name);
        if (!why.empty())
            return why;
    }
    return "";
}

void merge(Json::Value& into, const Json::Value& from)
{
    for (const auto& name : from.getMemberNames()) {
        const Json::Value& v = from[name];
        if (v.isObject() && into.isMember(name) && into[name].isObject())
            merge(into[name], v);
        else
            into[name] = v;
    }
}

// "" or null removes the member; an object descends; another text removes the
// member of that name, or else every member holding that text.
void remove(Json::Value& tree, const Json::Value& what)
{
    for (const auto& name : what.getMemberNames()) {
        if (!tree.isMember(name))
            continue;
        const Json::Value& w = what[name];
        Json::Value& node = tree[name];
        if (w.isNull() || (w.isString() && w.asString().empty())) {
            tree.removeMember(name);
        } else if (w.isObject()) {
            if (node.isObject())
                remove(node, w);
        } else if (node.isObject()) {
            std::string key = w.isString() ? w.asString() : compactJson(w);
            if (node.isMember(key)) {
                node.removeMember(key);
            } else {
                for (const auto& member : node.getMemberNames())
                    if (node[member] == w)
                        node.removeMember(member);
            }
        }
    }
}

} // namespace

ConfigStore::ConfigStore(std::string configPath, std::string nullSection)
    : configPath_(std::move(configPath)), nullSection_(std::move(nullSection))
{
}

bool ConfigStore::loadConfig(std::string* why)
{
    if (configPath_.empty())
        return true;
    return readJsonFile(configPath_, &config_, why);
}

bool ConfigStore::loadMemory(const std::string& memoryPath, std::string* why)
{
    if (memoryPath.empty())
        return true;
    return readJsonFile(memoryPath, &memory_, why);
}

ConfigStore::Answer ConfigStore::handle(const std::string& raw)
{
    // Requests are C texts to every client: a NUL ends one.
    const std::string request = raw.substr(0, raw.find('\0'));
    if (request.empty())
        return errorAnswer("empty request");
    Json::Value root;
    std::string why;
    if (!parseJson(request, &root, &why))
        return errorAnswer(why == NOT_UTF8 ? "request holds text that is not UTF-8" : "request is not valid JSON");
    if (!root.isObject() || root.size() != 1)
        return errorAnswer("request must be an object with one verb");
    const std::string verb = root.getMemberNames().front();
    const Json::Value& arg = root[verb];
    if (verb == "get" || verb == "getmem") {
        if (!(arg.isNull() || arg.isObject() || (arg.isString() && arg.asString().empty())))
            return errorAnswer(verb + " needs \"\" or an object");
        return get(arg, verb == "get" ? config_ : memory_, verb == "get");
    }
    if (verb == "set" || verb == "setmem" || verb == "deletemem") {
        if (!arg.isObject())
            return errorAnswer(verb + " needs an object");
        if (verb == "set")
            return set(arg);
        if (verb == "setmem")
            return setmem(arg);
        return deletemem(arg);
    }
    if (verb == "read")
        return read();
    if (verb == "write")
        return write();
    return errorAnswer("unknown request " + verb);
}

ConfigStore::Answer ConfigStore::get(const Json::Value& query, const Json::Value& tree, bool isConfig) const
{
    Json::Value content = query.isObject() ? select(tree, query) : tree;
    if (isConfig && !nullSection_.empty() && (!query.isObject() || query.isMember(nullSection_)))
        content[nullSection_] = Json::Value(Json::nullValue);
    return successAnswer(content);
}

ConfigStore::Answer ConfigStore::set(const Json::Value& changes)
{
    // Every section is checked before any is stored: a request is taken whole or not at all.
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        const std::string name = it.name();
        if (!it->isObject())
            return errorAnswer("set of " + name + " refused: a section is an object, not " + kindOf(*it));
        std::string why = lossOf(config_.get(name, Json::Value()), *it, name);
        if (!why.empty())
            return errorAnswer(why);
    }
    std::vector<std::string> changed;
    for (const auto& name : changes.getMemberNames()) {
        Json::Value before = config_.get(name, Json::Value());
        Json::Value part(Json::objectValue);
        part[name] = changes[name];
        merge(config_, part);
        if (config_.get(name, Json::Value()) != before)
            changed.push_back(name);
    }
    return successAnswer("ok", changed);
}

ConfigStore::Answer ConfigStore::setmem(const Json::Value& changes)
{
    merge(memory_, changes);
    return successAnswer("ok", changes.getMemberNames());
}

ConfigStore::Answer ConfigStore::deletemem(const Json::Value& what)
{
    remove(memory_, what);
    return successAnswer("ok", what.getMemberNames());
}

ConfigStore::Answer ConfigStore::read()
{
    if (configPath_.empty())
        return errorAnswer("no configuration file");
    Json::Value fresh;
    std::string why;
    if (!readJsonFile(configPath_, &fresh, &why))
        return errorAnswer(why);
    std::vector<std::string> changed;
    for (const auto& name : fresh.getMemberNames())
        if (!config_.isMember(name) || config_[name] != fresh[name])
            changed.push_back(name);
    for (const auto& name : config_.getMemberNames())
        if (!fresh.isMember(name))
            changed.push_back(name);
    config_ = fresh;
    return successAnswer("ok", changed);
}

ConfigStore::Answer ConfigStore::write()
{
    if (configPath_.empty())
        return errorAnswer("no configuration file");
    // Write beside the file and rename, so a crash never leaves half a configuration.
    std::string tmp = configPath_ + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "  ";
        out << Json::writeString(builder, config_) << '\n';
        out.flush();
        if (!out) {
            std::remove(tmp.c_str());
            return errorAnswer("cannot write " + configPath_);
        }
    }
    if (std::rename(tmp.c_str(), configPath_.c_str()) != 0) {
        std::remove(tmp.c_str());
        return errorAnswer("cannot write " + configPath_);
    }
    return successAnswer("ok");
}
