#include "feedbind.h"

#include <arpa/inet.h>

#include <cerrno>
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

void listenerBindFailed(const char* label, const sockaddr_in& address, const char* text) {
    const int e = errno;
    char host[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
    std::fprintf(stderr, "%s %s:%d: %s\n", label, host, int(ntohs(address.sin_port)), std::strerror(e));
    errno = e;
    std::perror(text);
    std::fflush(stdout);
    std::exit(1);
}
