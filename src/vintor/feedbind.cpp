#include "feedbind.h"

#include <cstdio>
#include <cstdlib>

std::string feedAddress(int port) { return "tcp://*:" + std::to_string(port); }

bool bindFeed(zmq::socket_t& publisher, const std::string& address, const char* label, BindFailure onFailure) {
    try {
        publisher.bind(address);
        return true;
    } catch (const zmq::error_t& e) {
        std::fprintf(stderr, "%s publisher %s: %s\n", label, address.c_str(), e.what());
        if (onFailure == BindFailure::EndStage) std::exit(1);
        return false;
    }
}
