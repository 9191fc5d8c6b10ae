// Any bytes as the configuration (and memory) reply of the relay services: the
// feeds they would start are read without an exception, and every feed started
// has both endpoints, each with a port that is the whole of its configured text
// (digits only), never one read from a leading part.
#include "configclient.h"
#include "feedbridge.h"
#include "headingadjust.h"
#include "numbers.h"
#include "publisherbind.h"
#include "unitrelay.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The port at a path below "success": the number of its text, 0 when that is
// not a port number.
int wholePort(const Json::Value& reply, std::vector<std::string> path, const std::string& def = "")
{
    path.insert(path.begin(), "success");
    int port = 0;
    return parsePortNumber(relay::text(reply, path, def).c_str(), &port) ? port : 0;
}

std::string publisherOf(int port) { return port == 0 ? "" : "tcp://*:" + std::to_string(port); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quietened = freopen("/dev/null", "w", stdout) != nullptr; // the programs' traces
    (void)quietened;
    std::string text(reinterpret_cast<const char*>(data), size);
    Json::Value reply;
    std::string errors;
    if (!ConfigClient::parseReply(text, &reply, &errors))
        return 0;

    std::vector<std::unique_ptr<pidlist_st>> headings;
    if (headingFeeds(reply, "heading-adjust", 0, &headings) == 0)
        for (const auto& f : headings)
            if (f->subscriberURL.size() <= 6 || !hasPortNumber(f->subscriberURL) ||
                f->publisherURL != publisherOf(wholePort(reply, {"heading-adjust", "publishers", f->name})))
                abort();
    std::vector<std::unique_ptr<UnitFeed>> units;
    if (unitFeeds(reply, reply, "unit-relay", true, &units) == 0)
        for (const auto& f : units) {
            const int remote = wholePort(reply, {"unit-relay", "subscribers", f->name, "port"});
            const std::string tail = ":" + std::to_string(remote);
            if (remote == 0 || f->subscriberURL.size() <= 6 + tail.size() ||
                f->subscriberURL.compare(f->subscriberURL.size() - tail.size(), tail.size(), tail) != 0 ||
                f->publisherURL != publisherOf(wholePort(reply, {"unit-relay", "publishers", f->name})))
                abort();
        }
    BridgeSettings bridge;
    bridgeFromReply(reply, "feed-bridge", &bridge);
    if (bridge.publisherPort != wholePort(reply, {"feed-bridge", "publishers", "proxyto"}, "5051"))
        abort();
    relay::text(reply, {"success", "drift-mean", "publishers", "Vdup"}, "5040");
    relay::text(reply, {"success", "configurator", "publishers", "alert"});
    return 0;
}
