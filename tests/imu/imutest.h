// Shared pieces of the IMU tests: the station's configuration with changes, log
// capture through the link's log seam, and fast waits.
#pragma once

#include "harness.h"
#include "imulink.h"

#include <json/json.h>

#include <string>
#include <utility>
#include <vector>

namespace imutest {

// The station's own configuration, each {"a/b/c", value} set on the way.
inline std::string stationConfig(const std::vector<std::pair<std::string, std::string>>& changes)
{
    Json::Value root;
    Json::Reader().parse(testsupport::readFile(testsupport::sourcePath("config/station.json")), root);
    for (const auto& c : changes) {
        Json::Value* node = &root;
        size_t from = 0, slash;
        while ((slash = c.first.find('/', from)) != std::string::npos) {
            node = &(*node)[c.first.substr(from, slash - from)];
            from = slash + 1;
        }
        (*node)[c.first.substr(from)] = c.second;
    }
    return Json::FastWriter().write(root);
}

// Log lines of a link, in order.
struct Captured {
    std::vector<std::string> lines;
    LogSink sink()
    {
        return [this](int, const std::string& text) { lines.push_back(text); };
    }
};

// Waits short enough for tests; replies still get a second under load.
inline LinkWaits fastWaits(std::chrono::milliseconds replyBudget = std::chrono::milliseconds(1000))
{
    LinkWaits w = LinkWaits().scaled(0.02);
    w.replyBudget = replyBudget;
    w.sampleSilence = replyBudget;
    return w;
}

} // namespace imutest
