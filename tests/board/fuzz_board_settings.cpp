// The configuration reply the board reader asks for, any bytes: parsed without
// an exception, and read into settings whose texts come from the reply.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "configrequest.h"
#include "fuzzing.h"
#include "numbers.h"
#include "settings.h"

using fuzzing::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    Json::Value root;
    std::string errors;
    if (!parseReply(reply, &root, &errors)) {
        check(root.isNull());
        return 0;
    }
    const TarnixSettings s = readSettings(root);
    // A text is the reply's own, a default, or what the reader makes of a number or a literal.
    check(s.speedText.size() <= size + 32 && s.script.size() <= size + 32);
    // A period is 0 only when its text reads as 0: no conversion wraps to it.
    check(s.speed == 0 || std::strtoll(s.speedText.c_str(), nullptr, 10) != 0);
    // The publisher port is the whole of its text, digits only, or none (0).
    int port = 0;
    check(s.rawdata_pub == (parsePortNumber(s.rawdataPubText.c_str(), &port) ? port : 0));
    return 0;
}
