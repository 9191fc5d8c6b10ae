// feed-listen: lists every publisher the configuration service knows, then
// subscribes to the chosen one and prints what arrives, decoded.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ListenOptions {
    std::string program = "feed-listen"; // as invoked, for the listed command lines
    std::string address = "127.0.0.1";   // IPv4, IPv6 or host name of the unit
    int port = 5010;                      // configuration service
    std::string module = "vintor";
    std::string publisher = "vintor";
    long timeout = 10000; // 1 ms waits without a message; 0 or less: no limit
    long count = -1;      // messages to take; -1: no limit
    bool quiet = false;
};

// 0 once count messages arrived (or for count 0); 1 for a publisher port that
// is not a number, a host that does not resolve or a socket that cannot be
// made; 3 when a configuration reply is not JSON or has no "success"; 100 after
// the time-out; 102 after a receive error.
int runListen(const ListenOptions& options);

enum class ListingReply { Ok, NotJson, NotFound };

// Member names of "success" in a reply to { "get": "" }, sorted.
ListingReply sectionNames(const std::string& reply, std::vector<std::string>* names, std::string* errors);
// {name, value as text} of success/<section>/"publishers", sorted by name; a
// value that is an object or an array gives the empty text, a section without
// publishers (or not an object) none.
ListingReply sectionPublishers(const std::string& reply, const std::string& section,
                               std::vector<std::pair<std::string, std::string>>* publishers, std::string* errors);
