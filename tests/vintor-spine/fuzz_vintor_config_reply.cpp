// A reply to vintor's configuration requests, any bytes: the sections reply as
// the configuration client stores it, and the board front-end's lookup of the
// feed port. Neither may throw or crash; what is stored is bounded by the
// reply, converts through every getter, and an endpoint fits its buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "configfile.h"
#include "fuzzing.h"
#include "tarnixclass.h"

using fuzzing::check;
using fuzzing::quietStdout;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The client reports every key it stores.
    quietStdout();
    const std::string reply(reinterpret_cast<const char*>(data), size);

    ConfigFile cf(0, 0);
    const int r = cf.takeSections(reply);
    check(r == 0 || r == 3);
    check(cf.content_.size() <= size && cf.sectionList_.size() <= size);
    if (r == 3) check(cf.content_.empty() && cf.sectionList_.empty());
    for (const auto& entry : cf.content_) {
        const std::string& key = entry.first;
        const size_t slash = key.find('/');
        check(slash != std::string::npos);
        const std::string section = key.substr(0, slash), name = key.substr(slash + 1);
        std::string text;
        cf.Value(section, name, &text);
        check(text == entry.second);
        (void)cf.ValueInt(section, name);
        (void)cf.ValueLongLong(section, name);
        (void)cf.ValueFloat(section, name);
        (void)cf.ValueDouble(section, name);
    }

    std::string endpoint, message;
    const int e = rawdataEndpoint(reply, &endpoint, &message);
    check(e == 0 || e == 1 || e == 3);
    check(e != 0 || (endpoint.size() < 100 && endpoint.compare(0, 16, "tcp://127.0.0.1:") == 0));
    // Both read the reply with one parser.
    check((e == 3) == (r == 3 && message.compare(0, 20, "Failed to parse JSON") == 0));
    return 0;
}
