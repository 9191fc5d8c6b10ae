// The command lines of gpio-expander and climate-sensor, any arguments (one per
// line of the input): a line accepted drives the chip only with values that were
// whole decimal numbers, and a count is never negative but for "for ever".
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "climate.h"
#include "expander.h"
#include "fuzzing.h"

namespace {

// Blanks, a sign and digits, nothing else: what a whole decimal number may be.
bool decimal(const std::string& t)
{
    size_t i = 0;
    while (i < t.size() && isspace(static_cast<unsigned char>(t[i])))
        i++;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        i++;
    if (i == t.size())
        return false;
    for (; i < t.size(); i++)
        if (!isdigit(static_cast<unsigned char>(t[i])))
            return false;
    return true;
}

// Walks the options as getopt does (bundles, "--", arguments joined or next),
// calling seen(option, argument) for each option that takes one.
template <class Seen>
void walk(const std::vector<std::string>& args, const std::string& withArgument, Seen seen)
{
    for (size_t k = 1; k < args.size(); k++) {
        const std::string& a = args[k];
        if (a == "--")
            return;
        if (a.size() < 2 || a[0] != '-')
            continue;
        for (size_t j = 1; j < a.size(); j++) {
            if (withArgument.find(a[j]) == std::string::npos)
                continue;
            if (j + 1 < a.size()) {
                seen(a[j], a.substr(j + 1));
            } else if (k + 1 < args.size()) {
                seen(a[j], args[k + 1]);
                k++;
            }
            break;
        }
    }
}

// argv over copies of the texts, as getopt may reorder it.
struct Argv {
    explicit Argv(const std::vector<std::string>& args) : texts(args)
    {
        for (auto& t : texts)
            pointers.push_back(&t[0]);
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(texts.size()); }
    std::vector<std::string> texts;
    std::vector<char*> pointers;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Usage texts go to the global stream only; sanitizer reports still reach fd 2.
    static FILE* const quiet = stderr = fopen("/dev/null", "w");
    (void)quiet;
    std::vector<std::string> args{"program"};
    std::string current;
    for (size_t i = 0; i < size && args.size() < 24; i++) {
        if (data[i] == '\n') {
            args.push_back(current);
            current.clear();
        } else if (data[i] != '\0') {
            current += static_cast<char>(data[i]);
        }
    }
    args.push_back(current);

    Argv a(args);
    expander::Command c;
    int status = 0;
    if (expander::parseCommand(a.argc(), a.pointers.data(), &c, &status)) {
        walk(args, "afsicpt", [](char option, const std::string& value) {
            if (option != 'p' && option != 't')
                fuzzing::check(decimal(value));
        });
        fuzzing::check(c.pinMask != 0 && (c.pinMask & (c.pinMask - 1)) == 0);
        fuzzing::check(c.value >= 0 && c.value <= 0xFF);
        fuzzing::check(c.action != 's' || c.value == 0 || c.value == 0xFF);
        fuzzing::check(std::string("xXbd").find(c.display) != std::string::npos);
    } else {
        fuzzing::check(status == 1);
    }

    Argv b(args);
    climate::Options o;
    status = 0;
    if (climate::parseOptions(b.argc(), b.pointers.data(), &o, &status)) {
        bool counted = false;
        walk(args, "cdvn", [&](char option, const std::string&) { counted |= option == 'n'; });
        fuzzing::check(o.delayUs >= 0 && o.count >= (counted ? 0 : -1));
    } else {
        fuzzing::check(status == 1);
    }
    return 0;
}
