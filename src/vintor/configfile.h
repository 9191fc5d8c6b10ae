// Client of the configuration service: fetches the program's sections once,
// keeps them as texts under "section/key" and converts them on every lookup.
#pragma once

#include <map>
#include <string>
#include <vector>

class ConfigFile {
public:
    std::map<std::string, std::string> content_;      // "section/key" -> text
    std::map<std::string, std::string> sectionList_;  // section -> "1"
    int usingMemcache;
    int confport;
    int subscport;

    ConfigFile();
    ConfigFile(int lconfport, int lsubscport);

    // 0 when both replies parsed, 3 when a reply is not valid JSON or has no usable "success".
    int readConfig();
    // Stores the sections of a reply to the sections request (readConfig's
    // second one) into the emptied maps; 0, or 3 as readConfig.
    int takeSections(const std::string& reply);
    // 0 when the service answered the "write" with "success", else 1.
    int writeConfig();
    int sendMessage(std::string message);

    int SectionExists(std::string section);
    void Value(const std::string& section, const std::string& entry, std::string* S);
    void ValueString(const std::string& section, const std::string& entry, std::string* ret);
    int ValueInt(const std::string& section, const std::string& entry);
    long ValueLong(const std::string& section, const std::string& entry);
    long long ValueLongLong(const std::string& section, const std::string& entry);
    float ValueFloat(const std::string& section, const std::string& entry);
    double ValueDouble(const std::string& section, const std::string& entry);

    // Change only this process's copy; nothing reaches the service.
    int setValue(const std::string& section, const std::string& entry, float value);
    int setValue(const std::string& section, const std::string& entry, int value);
    int setValue(const std::string& section, const std::string& entry, long value);
    int setValue(const std::string& section, const std::string& entry, long long value);
    int setValue(const std::string& section, const std::string& entry, double value);
    int setValue(const std::string& section, const std::string& entry, std::string value);

    std::vector<std::string> explode(const std::string& delimiter, const std::string& str);

private:
    const std::string* find(const std::string& section, const std::string& entry) const;
    void store(const std::string& section, const std::string& entry, const std::string& text);
};
