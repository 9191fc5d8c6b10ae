// The host part of the endpoints the programs connect to.
#include "hostlookup.h"

#include <gtest/gtest.h>

namespace {

TEST(EndpointHost, IsTheTextBetweenTheTransportAndTheLastColon)
{
    const struct {
        const char* endpoint;
        const char* host; // nullptr: none to look up
    } cases[] = {
        {"tcp://nohost.invalid:5010", "nohost.invalid"},
        {"tcp://127.0.0.1:5010", "127.0.0.1"},
        {"tcp://[::1]:5010", "::1"},
        {"tcp://[fe80::1%eth0]:5010", "fe80::1%eth0"},
        {"tcp://fe80::1%eth0:5010", "fe80::1%eth0"}, // config-cli's -a as given
        {"tcp://*:5010", "*"},
        {"tcp://:5010", ""},
        {"tcp://[]:5010", ""},
        {"tcp://10.0.0.1:6000;:5010", ""},
        {"tcp://10.0.0.1:6000;unit.example:5010", "unit.example"}, // source;destination
        {"tcp://unit.example", nullptr},                            // no port: the library's to judge
        {"tcp://[::1:5010", "[::1"},
        {"ipc:///tmp/config:1", nullptr},
        {"nohost.invalid:5010", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> host = endpointHost(c.endpoint);
        EXPECT_EQ(host.has_value(), c.host != nullptr) << c.endpoint;
        if (host && c.host) {
            EXPECT_EQ(*host, c.host) << c.endpoint;
        }
    }
}

} // namespace
