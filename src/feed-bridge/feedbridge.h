// feed-bridge: one feed relayed whole to a local publisher, in the program's own
// process.
#pragma once

#include "relaycore.h"

#include <json/json.h>

#include <string>

struct BridgeSettings {
    std::string configuratorConnection = "127.0.0.1:5010"; // empty: no request (-d)
    std::string subscriberURI;                               // empty: from configuration
    int publisherPort = 0;                                   // 0: from configuration
    bool quiet = false;
    std::string publisherText;                               // the configured port, named when it is none
};

// Fills what the command line left open from the own section of the reply:
// publishers.proxyto ("5051") and subscribers.proxyfrom ("127.0.0.1:5050"),
// the default also when the section or its group is missing. A proxyto that is
// not a port number leaves publisherPort 0.
void bridgeFromReply(const Json::Value& reply, const std::string& own, BridgeSettings* settings);

// Relays until SIGINT (0) or until the input is silent or fails (3); 1 and 30
// for a configuration that is missing or not JSON; 1 when the publisher cannot
// be bound or the subscriber not connected.
int processStart(BridgeSettings settings, const std::string& own, const relay::Timing& timing = {});

// The whole program; own is its configuration section (its process name).
int runFeedBridge(int argc, char** argv, const std::string& own, const relay::Timing& timing = {});
