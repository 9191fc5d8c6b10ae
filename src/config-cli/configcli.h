// config-cli: sends one request to the configuration service and prints the
// reply, waiting a bounded time for it.
#pragma once

#include <string>

struct ConfigCliOptions {
    std::string request;              // sent unchanged; may be empty
    std::string address = "127.0.0.1"; // IPv4 or IPv6
    int port = 5010;
    long wait = 10;        // tenths of the polls: wait x 10 polls of pollMs; < 0 without limit
    int pollMs = 100;
    int lingerMs = 1000;   // time a sent request has to leave when no reply is awaited
    bool quiet = false;    // print only the reply
};

// 0 after a reply (or when no wait was asked for); 100 when the wait ran out,
// after printing the empty reply; 1 when the socket cannot be made or
// connected or the host does not resolve; 3 when the send or a receive fails.
int runConfigCli(const ConfigCliOptions& options);
