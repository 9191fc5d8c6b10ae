// The host of a connect endpoint given on a command line: read without a
// crash, and always a piece of the endpoint.
#include "fuzzing.h"
#include "hostlookup.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string endpoint(reinterpret_cast<const char*>(data), size);
    const std::string host = endpointHost(endpoint);
    fuzzing::check(host.size() <= endpoint.size());
    fuzzing::check(host.empty() || endpoint.find(host) != std::string::npos);
    fuzzing::check(host.empty() || endpoint.compare(0, 6, "tcp://") == 0);
    fuzzing::check(host.find(';') == std::string::npos);
    return 0;
}
