// unit-relay: the feeds of remote radar units, found by serial number,
// republished whole on local ports, one worker per feed.
#pragma once

#include "relaycore.h"

#include <json/json.h>

#include <memory>
#include <string>
#include <vector>

// publisherURL "tcp://*:" + local port, subscriberURL "tcp://" + unit ip + ":" + remote port.
struct UnitFeed : relay::FeedWorker {
    bool quiet = false;

    void printStart() const override;
    int processStart() override;
};

// The second request, for the units' addresses by serial number.
extern const char* const radarsRequest;

// The feeds of the configuration reply and the memory reply ("Radars"), in
// member order, into *feeds. 0, or the program's exit code: 1 when the memory
// reply has no "success", 32 when it has no "Radars" branch or no entry for a
// unit (after a line on standard output saying which), 31 when the entry has no
// ip. A feed whose local or remote port is none is skipped with a message.
int unitFeeds(const Json::Value& reply, const Json::Value& memory, const std::string& own, bool quiet,
              std::vector<std::unique_ptr<UnitFeed>>* feeds);

// The whole program; own is its configuration section (its process name).
int runUnitRelay(int argc, char** argv, const std::string& own, const relay::Timing& timing = {});
