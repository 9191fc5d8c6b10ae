// Settings of the board reader, read once from the configuration service's reply.
#pragma once

#include <cstdint>
#include <string>

#include <json/json.h>

struct TarnixSettings {
    int speed = 0;              // sweep period, ms
    std::string speedText;      // "general"."speed" as received, for the error message
    int64_t offset = 0;         // wanted tick phase within the period, ms
    int sweepsize = 0;
    int rawdata_pub = 0;        // 0: rawdataPubText is not a port number
    std::string rawdataPubText; // the publisher port as configured, named when it is none
    std::string script;         // the board detection script
};

// Never throws: a missing or odd-typed member reads as its default.
TarnixSettings readSettings(const Json::Value& reply);

// The request that fetches them.
extern const char* const TARNIX_REQUEST;
