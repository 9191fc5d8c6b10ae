// The host of an endpoint a program connects to, looked up before it connects.
// The messaging library looks a host name up in the background and, while it
// does not resolve, tries again for ever without a word: a program waiting for
// a reply would wait in silence. These say it instead.
#pragma once

#include <chrono>
#include <optional>
#include <string>

// The host of a "tcp://host:port" endpoint: of the destination when a source
// address comes first ("src;host:port"), without an IPv6 literal's brackets;
// "" when none is given (":5010"). None for another transport or an address
// without a port, left to the library.
std::optional<std::string> endpointHost(const std::string& endpoint);

enum class HostLookup {
    Found,   // it resolves, or needs no look-up: an address, "*"
    Unknown, // never reached: no such host (a name server said so), no host
             // at all, or an IPv6 address for an IPv4 socket
    NotYet,  // no answer for now: no name server reachable (a network not up yet)
};

// Looks the host up for a socket of that family (ipv6: either, else IPv4
// only); *reason says why when it is not Found. An address is never given to
// a name server, and a text with ':' in it is an IPv6 literal.
HostLookup lookUpHost(const std::string& host, bool ipv6, std::string* reason);

enum class HostWait {
    No,         // a tool: a host that does not resolve ends it
    UntilFound, // a service: a host that cannot be looked up yet is looked up
                // again every retry, as a silent service is waited for
};

// True when the host of endpoint resolves. Otherwise prints once on standard
// error "<what> <endpoint>: host <host> does not resolve (<reason>)" ("host
// does not resolve" when there is none), with
// "; looking it up again every <n> s" when it waits, and returns false, or,
// waiting, true once the host resolves and false when it turns out unknown
// (after a line saying so).
bool hostResolves(const std::string& endpoint, const char* what, bool ipv6, HostWait wait,
                  std::chrono::milliseconds retry = std::chrono::seconds(5));
