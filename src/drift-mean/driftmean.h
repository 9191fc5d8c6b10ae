// drift-mean: one worker reads the radar's "vintor" feed and publishes the
// minute means of its vertical Doppler velocity; the program ends with it.
#pragma once

#include "relaycore.h"

#include <json/json.h>

#include <string>

// The worker: subscriberURI and publishers.Vdup ("5040") of the own section.
// 0 after SIGINT, 3 when the feed fails or stays silent.
int processStart(const Json::Value& config, const std::string& own, bool quiet, const relay::Timing& timing = {});

// The whole program; own is its configuration section (its process name). Ends
// with the worker's result: 0 after SIGINT, 3 after silence, 1 when it died.
int runDriftMean(int argc, char** argv, const std::string& own, const relay::Timing& timing = {});
