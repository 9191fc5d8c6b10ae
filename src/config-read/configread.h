// config-read: asks the configuration service to read its configuration again,
// prints the reply, then prints the change notices of about one second.
#pragma once

#include <chrono>
#include <string>

struct ConfigReadOptions {
    std::string host = "localhost";
    std::string confport;  // request port, as given
    std::string subport;   // notice port, as given
    int listenPasses = 1002; // 1 ms apart
    // How long the request waits for the notice connection, and then for the
    // subscription to reach the publisher.
    std::chrono::milliseconds noticeConnectWait{3000};
    int subscriptionSettleMs = 200;
};

// 0 after the listening period; 1 when a socket cannot be made or connected
// (a port that is not a number); 3 when a send or receive fails.
int runConfigRead(const ConfigReadOptions& options);
