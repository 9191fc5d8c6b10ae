// The core of motion-sentinel: counts, per status bit, the messages in which the
// bit is 0 and raises the bit's warning every throttle-th time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

struct bitrule_st {
    std::string parameter;
    std::string action;      // "log" and "reboot" warn; anything else only restarts the count
    std::string description;
    int throttle = 0;        // 0 or less: the bit never warns
};

// '0'/'1' for bits 31 down to 0.
std::string statusWordToBits(uint32_t word);

// The throttle text of a rule: strtol base 10, held within int.
int throttleOf(const std::string& text);

class StatusWatcher {
public:
    // Where the watcher's output goes, in this order per warning.
    struct Outputs {
        std::function<void(const std::string&)> print;  // unless quiet
        std::function<void(const std::string&)> alert;
        std::function<void(const std::string&)> action;
        std::function<void(const std::string&)> syslog; // first warning of each bit only
    };

    StatusWatcher(std::map<int, bitrule_st> rules, bool quiet, Outputs outputs);

    // One message of the status feed: "time,value,statusword". A message
    // without a word, or whose word is not a whole number, counts nothing.
    void handle(const std::string& message);

    uint8_t zeroCount(int bit) const { return zeroCounts[bit]; }

private:
    std::map<int, bitrule_st> bitRules;
    bool quiet;
    Outputs out;
    uint8_t zeroCounts[32] = {};
    bool loggedBits[32] = {};
};
