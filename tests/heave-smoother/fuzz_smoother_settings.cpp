// Any configuration reply for the smoother worker: settings come out with their
// defaults where the reply has nothing usable, never an exception, and the
// publisher port is the whole of its text or none.
#include "configclient.h"
#include "numbers.h"
#include "service.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Json::Value reply;
    std::string errors;
    ConfigClient::parseReply(std::string(reinterpret_cast<const char*>(data), size), &reply, &errors);
    SmootherSettings s;
    int status = readSmootherSettings(reply, "heave-smoother", &s);
    if (status != 0 && status != 1)
        abort();
    if (status == 1 && (s.fastport != 5051 || !s.filterFilename.empty() || s.subscribe != "127.0.0.1:5080"))
        abort();
    int port = 0;
    if (s.fastport != (parsePortNumber(s.fastportText.c_str(), &port) ? port : 0))
        abort();
    return 0;
}
