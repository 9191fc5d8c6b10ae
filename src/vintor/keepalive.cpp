#include "keepalive.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "configfile.h"
#include "sharedmem.h"

namespace {

// Closes the socket on every way out of activateTimer.
struct Socket {
    int fd;
    ~Socket() {
        if (fd >= 0) close(fd);
    }
};

}  // namespace

KeepAliveClass::KeepAliveClass(ConfigFile* lcf, const char* lsection, int semaphoreKey)
    : cf(lcf), section(lsection), debug(0), semaphoreKey_(semaphoreKey) {}

int KeepAliveClass::activateTimer() {
    Socket s{socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    if (s.fd < 0) {
        perror("keepalive socket");
        return 1;
    }
    std::string host;
    cf->Value("vintor", "timeserver", &host);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        fprintf(stderr, "getaddrinfo: %s\n", gai_strerror(rc));
        return 1;
    }
    sockaddr_in to{};
    memcpy(&to, found->ai_addr, sizeof to);
    freeaddrinfo(found);
    to.sin_port = htons(static_cast<uint16_t>(cf->ValueInt("vintor", "timeport")));
    if (connect(s.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
        perror("keepalive connect");
        return 1;
    }
    std::string message = "s;" + std::to_string(cf->ValueInt("vintor", "portnumber")) + ";" + section + ";" +
                          std::to_string(cf->ValueInt(section, "scanspeed")) + ";" +
                          std::to_string(cf->ValueInt(section, "timeoffset")) + ";";
    // One send of the text and its NUL; a short send counts as a failure.
    ssize_t n = send(s.fd, message.c_str(), message.size() + 1, MSG_NOSIGNAL);
    if (n != static_cast<ssize_t>(message.size() + 1)) {
        perror("send");
        return 1;
    }
    return 0;
}

int KeepAliveClass::process() {
    int id = getSemaphore(semaphoreKey_);
    if (id < 0 || setSemaphore(id, 0) < 0) {
        perror("keepalive semaphore");
        return 1;
    }
    return 0;
}
