// Any bytes as the configuration (and memory) reply of the relay services: the
// feeds they would start are read without an exception, and every feed started
// has both endpoints, neither with a port that is none.
#include "configclient.h"
#include "feedbridge.h"
#include "headingadjust.h"
#include "publisherbind.h"
#include "unitrelay.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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
            if (f->subscriberURL.size() <= 6 || f->publisherURL.size() <= 8 || !hasPortNumber(f->subscriberURL) ||
                !hasPortNumber(f->publisherURL))
                abort();
    std::vector<std::unique_ptr<UnitFeed>> units;
    if (unitFeeds(reply, reply, "unit-relay", true, &units) == 0)
        for (const auto& f : units)
            if (f->subscriberURL.size() <= 7 || f->publisherURL.size() <= 8 || !hasPortNumber(f->subscriberURL) ||
                !hasPortNumber(f->publisherURL))
                abort();
    BridgeSettings bridge;
    bridgeFromReply(reply, "feed-bridge", &bridge);
    relay::text(reply, {"success", "drift-mean", "publishers", "Vdup"}, "5040");
    relay::text(reply, {"success", "configurator", "publishers", "alert"});
    return 0;
}
