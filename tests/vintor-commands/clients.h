// Peers of the command and status ports, as on the network: datagrams to the
// UDP port (replies taken from any source port), one request per TCP connection.
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

namespace commandtest {

using std::chrono::milliseconds;

inline sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

inline bool readable(int fd, milliseconds timeout) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

class UdpPeer {
public:
    UdpPeer() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in a = loopback(0);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~UdpPeer() { close(fd_); }
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
    bool receive(std::string* text, milliseconds timeout) {
        static char buffer[70000];
        ssize_t n = readable(fd_, timeout) ? recv(fd_, buffer, sizeof buffer, 0) : -1;
        if (n >= 0) text->assign(buffer, static_cast<size_t>(n));
        return n >= 0;
    }

private:
    int fd_;
};

class TcpClient {
public:
    explicit TcpClient(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a = loopback(port);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~TcpClient() { close(fd_); }
    bool connected() const { return connected_; }
    void send(const std::string& text) { ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
    // Everything until the service closes the connection; false when it stalls.
    bool readAll(std::string* text, milliseconds stall) {
        static char buffer[65536];
        text->clear();
        for (ssize_t n; readable(fd_, stall) && (n = recv(fd_, buffer, sizeof buffer, 0)) >= 0;) {
            if (n == 0) return true;
            text->append(buffer, static_cast<size_t>(n));
        }
        return false;
    }

    // Sends `chunk` every `gap` while it reads the reply, until a send fails
    // (the service has cut the connection off) or `limit` has passed. *reply is
    // what came before the end of stream, *ended whether one came in order.
    // Returns the time from that end of stream, or from the start, to the cut.
    milliseconds sendUntilCut(const std::string& chunk, milliseconds gap, milliseconds limit, std::string* reply,
                              bool* ended) {
        using Clock = std::chrono::steady_clock;
        static char buffer[65536];
        reply->clear();
        *ended = false;
        bool reading = true;
        const auto begin = Clock::now();
        auto since = begin;
        while (Clock::now() - begin < limit) {
            if (::send(fd_, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN &&
                errno != EWOULDBLOCK)
                break;
            pollfd p{fd_, static_cast<short>(reading ? POLLIN : 0), 0};
            poll(&p, 1, static_cast<int>(gap.count()));
            while (reading && readable(fd_, milliseconds(0))) {
                ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
                if (n > 0) {
                    reply->append(buffer, static_cast<size_t>(n));
                    continue;
                }
                *ended = n == 0;
                reading = false;
                since = Clock::now();
            }
        }
        return std::chrono::duration_cast<milliseconds>(Clock::now() - since);
    }

private:
    int fd_;
    bool connected_ = false;
};

// One request on a fresh connection, retried while nobody listens yet. The
// service takes its connections one after the other, each with a fork and a
// watchdog touch, so a loaded machine can keep a client queued behind others
// for many seconds: only a long stall is a failure.
inline bool askTelnet(int port, const std::string& request, std::string* reply) {
    for (int attempt = 0; attempt < 100; ++attempt, usleep(100000)) {
        TcpClient c(port);
        if (!c.connected()) continue;
        c.send(request);
        return c.readAll(reply, milliseconds(40000));
    }
    return false;
}

}  // namespace commandtest
