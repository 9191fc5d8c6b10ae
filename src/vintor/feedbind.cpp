#include "feedbind.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "numbers.h"

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

int listenerPort(const char* label, long port) {
    if (isPortNumber(port)) return static_cast<int>(port);
    std::fprintf(stderr, "%s port %ld: %s\n", label, port, NOT_A_PORT);
    std::exit(1);
}
