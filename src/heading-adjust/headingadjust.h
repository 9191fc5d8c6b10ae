// heading-adjust: one worker per configured feed republishes seven-field IMU
// lines with their heading field taken from a GPS compass.
#pragma once

#include "relaycore.h"

#include <json/json.h>

#include <memory>
#include <string>
#include <vector>

// publisherURL "tcp://*:" + port, subscriberURL "tcp://" + endpoint.
struct pidlist_st : relay::FeedWorker {
    std::string headingURL; // "tcp://" + heading endpoint, or empty
    float radarXaxisToHeadingRef_ENU_deg = 0.0f;
    int verbose = 0;

    void printStart() const override;
    int processStart() override;
};

// The feeds of a configuration reply, in member order, into *feeds. 0, or the
// program's exit code: 31 for a feed without a subscriber endpoint. A feed
// without a publisher port is skipped with a message; only the first feed binds
// the heading endpoint, the others carry "NaN" (a warning says so).
int headingFeeds(const Json::Value& reply, const std::string& own, int verbose,
                 std::vector<std::unique_ptr<pidlist_st>>* feeds);

// The whole program; own is its configuration section (its process name).
int runHeadingAdjust(int argc, char** argv, const std::string& own, const relay::Timing& timing = {});
