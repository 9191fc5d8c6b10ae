#include "hostlookup.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

std::optional<std::string> endpointHost(const std::string& endpoint)
{
    static const std::string tcp = "tcp://";
    if (endpoint.compare(0, tcp.size(), tcp) != 0)
        return std::nullopt;
    std::string address = endpoint.substr(tcp.size());
    const size_t source = address.rfind(';');
    if (source != std::string::npos)
        address.erase(0, source + 1);
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos)
        return std::nullopt;
    address.erase(colon);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    return address;
}

namespace {

// getaddrinfo's answer for host: 0 or its error.
int resolve(const std::string& host, bool ipv6, int flags)
{
    addrinfo hints{};
    hints.ai_family = ipv6 ? AF_UNSPEC : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* found = nullptr;
    const int r = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (r == 0)
        freeaddrinfo(found);
    return r;
}

// Sleeps the whole time, signals or not: a wait that signals cut short would
// look up again at once.
void sleepFully(std::chrono::milliseconds time)
{
    timespec left{static_cast<time_t>(time.count() / 1000), static_cast<long>(time.count() % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

} // namespace

HostLookup lookUpHost(const std::string& host, bool ipv6, std::string* reason)
{
    // The messaging library takes both for addresses it may connect to later,
    // and tries them in silence for ever.
    if (host.empty()) {
        *reason = "no host given";
        return HostLookup::Unknown;
    }
    if (host.find(':') != std::string::npos) {
        if (ipv6)
            return HostLookup::Found;
        *reason = "an IPv6 address, and this program connects over IPv4 only";
        return HostLookup::Unknown;
    }
    if (host == "*")
        return HostLookup::Found;
    if (host.find('\0') != std::string::npos) {
        *reason = "not a host name";
        return HostLookup::Unknown;
    }
    if (resolve(host, ipv6, AI_NUMERICHOST) == 0)
        return HostLookup::Found;
    const int r = resolve(host, ipv6, 0);
    if (r == 0)
        return HostLookup::Found;
    *reason = r == EAI_SYSTEM ? strerror(errno) : gai_strerror(r);
    // Only these may pass once the network is up; the others are answers.
    return r == EAI_AGAIN || r == EAI_SYSTEM || r == EAI_MEMORY ? HostLookup::NotYet : HostLookup::Unknown;
}

bool hostResolves(const std::string& endpoint, const char* what, bool ipv6, HostWait wait,
                  std::chrono::milliseconds retry)
{
    const std::optional<std::string> given = endpointHost(endpoint);
    if (!given)
        return true;
    const std::string& host = *given;
    bool said = false;
    for (;;) {
        std::string reason;
        const HostLookup found = lookUpHost(host, ipv6, &reason);
        if (found == HostLookup::Found)
            return true;
        const bool waits = found == HostLookup::NotYet && wait == HostWait::UntilFound;
        if (!said || !waits) {
            fprintf(stderr, "%s %s: host%s%s does not resolve (%s)", what, endpoint.c_str(), host.empty() ? "" : " ",
                    host.c_str(), reason.c_str());
            if (waits)
                fprintf(stderr, "; looking it up again every %lld s",
                        static_cast<long long>((retry.count() + 999) / 1000));
            fputc('\n', stderr);
            fflush(stderr);
            said = true;
        }
        if (!waits)
            return false;
        sleepFully(retry);
    }
}
