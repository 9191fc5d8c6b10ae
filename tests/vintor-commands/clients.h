// Network clients of the command and status ports, as a peer on the network
// would use them: datagrams to the UDP port, one request per TCP connection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace commandtest {

using Clock = std::chrono::steady_clock;

inline int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

inline sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

// A UDP peer on an ephemeral port of its own; replies are taken from any source port.
class UdpPeer {
public:
    UdpPeer() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in a = loopback(0);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~UdpPeer() { close(fd_); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    int port() const {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }
    void send(const std::string& datagram, int port) {
        sockaddr_in to = loopback(port);
        sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // The next datagram; false at the deadline.
    bool receive(std::string* text, std::chrono::milliseconds timeout) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
        char buffer[70000];
        ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0) return false;
        text->assign(buffer, static_cast<size_t>(n));
        return true;
    }
    // Sends until a reply comes: the first datagrams may find no listener yet.
    bool ask(const std::string& datagram, int port, std::string* reply, std::chrono::milliseconds timeout) {
        auto deadline = Clock::now() + timeout;
        do {
            send(datagram, port);
            if (receive(reply, std::chrono::milliseconds(200))) return true;
        } while (Clock::now() < deadline);
        return false;
    }

private:
    int fd_;
};

// A TCP connection to the status service.
class TcpClient {
public:
    explicit TcpClient(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a = loopback(port);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~TcpClient() { close(fd_); }
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    bool connected() const { return connected_; }
    void send(const std::string& text) { ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
    // Everything until the service closes the connection; false at the deadline.
    bool readAll(std::string* text, std::chrono::milliseconds timeout) {
        auto deadline = Clock::now() + timeout;
        text->clear();
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, remainingMs(deadline)) <= 0) return false;
            char buffer[65536];
            ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n == 0) return true;
            if (n < 0) return false;
            text->append(buffer, static_cast<size_t>(n));
        }
    }

private:
    int fd_;
    bool connected_ = false;
};

// One request on a fresh connection, retried while nobody listens yet; the whole reply.
inline bool askTelnet(int port, const std::string& request, std::string* reply,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
    auto deadline = Clock::now() + timeout;
    do {
        TcpClient c(port);
        if (c.connected()) {
            c.send(request);
            return c.readAll(reply, std::chrono::milliseconds(remainingMs(deadline)));
        }
        usleep(100000);
    } while (Clock::now() < deadline);
    return false;
}

}  // namespace commandtest
