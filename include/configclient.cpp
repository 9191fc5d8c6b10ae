#include "configclient.h"

#include "configrequest.h"
#include "misc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

ConfigClient::ConfigClient(int confport, int subport, int mode, bool quiet)
    : mode(mode), confport(confport), subport(subport), quiet(quiet)
{
}

void ConfigClient::setVerbose(int flag)
{
    verbose = flag;
}

// One request and its reply on a context and socket of their own; the reply ends
// at its first NUL. A failed send or receive ends the program with status 3.
std::string ConfigClient::exchange(const std::string& request)
{
    ConfigRequest::Options o;
    o.textReply = true;
    ConfigRequest link(localEndpoint(confport), o);
    std::string answer;
    if (link.exchange(request.substr(0, strnlen(request.c_str(), request.size())), &answer) != ConfigRequest::Ok)
        exit(3);
    return answer;
}

bool ConfigClient::parseReply(const std::string& text, Json::Value* reply, std::string* errors)
{
    return ::parseReply(text, reply, errors);
}

int ConfigClient::requestSections(const std::string* sections, int count)
{
    const char* verb = mode == 0 ? "get" : "getmem";
    Json::Value request(Json::objectValue);
    request[verb] = Json::Value(Json::nullValue);
    for (int i = 0; i < count; i++)
        request[verb][sections[i]] = "";
    std::string answer = exchange(Json::StyledWriter().write(request));
    std::string errors;
    // Said here, once, so that the lookups' "No ... data found!" that follows
    // does not read as a section missing from a good reply.
    if (!parseReply(answer, &reply, &errors)) {
        if (quiet)
            printf("Failed to parse JSON\r\n");
        else
            printf("Failed to parse JSON\r\n%s\n", errors.c_str());
        fflush(stdout);
        return 3;
    }
    const Json::Value* success = at(reply, {});
    if (success == nullptr || !success->isObject()) {
        printf("Configuration reply holds no \"success\" object\r\n");
        fflush(stdout);
    }
    return 0;
}

int ConfigClient::requestWrite()
{
    std::string answer = exchange("{ \"write\": \"\" }");
    if (verbose != 0 && !quiet)
        printf("Received: %s\n", answer.c_str());
    return 0;
}

namespace {

// The member of an object, or null; jsoncpp throws when anything else is
// indexed by name, so every level is tested first.
const Json::Value* member(const Json::Value* node, const std::string& name)
{
    if (node == nullptr || !node->isObject())
        return nullptr;
    return node->find(name.data(), name.data() + name.size());
}

} // namespace

const Json::Value* ConfigClient::at(const Json::Value& reply, const std::vector<std::string>& names)
{
    const Json::Value* node = member(&reply, "success");
    for (const std::string& name : names)
        node = member(node, name);
    return node;
}

bool ConfigClient::find(const Json::Value& reply, const std::vector<std::string>& names, std::string* value)
{
    if (names.empty())
        return false;
    const Json::Value* node = at(reply, std::vector<std::string>(names.begin(), names.end() - 1));
    if (node == nullptr || !node->isObject())
        return false;
    const Json::Value* leaf = member(node, names.back());
    if (leaf == nullptr) {
        value->clear();
        return true;
    }
    if (!leaf->isString())
        return false;
    *value = leaf->asString();
    return true;
}

std::string ConfigClient::lookupPath(const std::vector<std::string>& names)
{
    std::string found;
    if (!find(reply, names, &found)) {
        message = "No ";
        for (size_t i = 0; i < names.size(); i++)
            message += (i > 0 ? "," : "") + names[i];
        message += " data found!\r\n";
        printf("%s", message.c_str());
        exit(1);
    }
    value = found;
    return value;
}

std::string ConfigClient::lookup(const std::string& section, const std::string& key)
{
    return lookupPath({section, key});
}

std::string ConfigClient::lookup(const std::string& section, const std::string& group, const std::string& key)
{
    return lookupPath({section, group, key});
}

std::string ConfigClient::lookup(const std::string& section, const std::string& group1, const std::string& group2,
                                 const std::string& key)
{
    return lookupPath({section, group1, group2, key});
}

std::string ConfigClient::lookup(const std::string& section, const std::string& group1, const std::string& group2,
                                 const std::string& group3, const std::string& key)
{
    return lookupPath({section, group1, group2, group3, key});
}

std::vector<std::string> ConfigClient::explode(const std::string& delimiter, const std::string& text)
{
    std::string copy(text);
    return ::explode(delimiter, &copy);
}
