// The host of a connect endpoint given on a command line: read without a
// crash, always a piece of the endpoint; no host, or an IPv6 address for an
// IPv4 socket, refused without a name server.
#include "fuzzing.h"
#include "hostlookup.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string endpoint(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> given = endpointHost(endpoint);
    // Only a tcp endpoint with a port has a host to look up, if an empty one.
    fuzzing::check(!given || endpoint.compare(0, 6, "tcp://") == 0);
    fuzzing::check(!given || endpoint.find(':', 6) != std::string::npos);
    if (!given)
        return 0;
    const std::string& host = *given;
    fuzzing::check(host.size() <= endpoint.size());
    fuzzing::check(host.empty() || endpoint.find(host) != std::string::npos);
    fuzzing::check(host.find(';') == std::string::npos);
    // No host, and an IPv6 literal on an IPv4 socket, are never found: the
    // library would try them in silence. Names are not looked up here.
    std::string reason;
    if (host.empty())
        fuzzing::check(lookUpHost(host, true, &reason) == HostLookup::Unknown && !reason.empty());
    if (host.find(':') != std::string::npos)
        fuzzing::check(lookUpHost(host, false, &reason) == HostLookup::Unknown && !reason.empty());
    return 0;
}
