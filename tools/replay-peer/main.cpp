// Replay peer: connects to the radar program's network replay front-end and
// answers every "g" with the next sweep pair of a recording, the up-sweep line
// and then the down-sweep line, each in one write ending in "\n" with a short
// gap between them so that each arrives as a receive of its own.
//
// usage: replay-peer [-h host] -p port [-l] [-i interval_ms] [-g gap_us] recording
//   -l  start again at the first pair after the last one (for ever)
//   -i  answer at most one "g" per interval (the front-end itself is unpaced)
// A lost connection is made again and the replay goes on where it was. Without
// -l the peer closes the connection and ends after the last pair.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "numbers.h"
#include "timer.h"

namespace {

struct Options {
    std::string host = "127.0.0.1";
    int port = 0;
    bool loop = false;
    long intervalMs = 0;
    long gapUs = 2000;
    std::string file;
};

double nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

bool parse(int argc, char** argv, Options* o) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        std::string a = argv[i];
        long v = 0;
        if (a == "-l") {
            o->loop = true;
        } else if (i + 1 >= argc) {
            return false;
        } else if (a == "-h") {
            o->host = argv[++i];
        } else if (a == "-p") {
            if (!parseWholeNumber(argv[++i], 1, 65535, &v)) return false;
            o->port = int(v);
        } else if (a == "-i") {
            if (!parseWholeNumber(argv[++i], 0, 3600000, &v)) return false;
            o->intervalMs = v;
        } else if (a == "-g") {
            if (!parseWholeNumber(argv[++i], 0, 1000000, &v)) return false;
            o->gapUs = v;
        } else {
            return false;
        }
    }
    if (i + 1 != argc || o->port == 0) return false;
    o->file = argv[i];
    return true;
}

// Blocks until the front-end accepts, trying again every 100 ms.
int connectTo(const Options& o) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    std::string port = std::to_string(o.port);
    int rc = getaddrinfo(o.host.c_str(), port.c_str(), &hints, &res);
    if (rc != 0) {
        std::fprintf(stderr, "replay-peer: %s: %s\n", o.host.c_str(), gai_strerror(rc));
        return -1;
    }
    for (;;) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) {
            std::perror("socket");
            freeaddrinfo(res);
            return -1;
        }
        if (connect(fd, res->ai_addr, res->ai_addrlen) == 0) {
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            freeaddrinfo(res);
            return fd;
        }
        close(fd);
        sleepThroughSignals(100000);
    }
}

bool sendAll(int fd, const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t n = send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, &o)) {
        std::fprintf(stderr,
                     "usage: %s [-h host] -p port [-l] [-i interval_ms] [-g gap_us] recording\n",
                     argv[0]);
        return 2;
    }
    std::ifstream in(o.file);
    if (!in) {
        std::perror(o.file.c_str());
        return 1;
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line + "\n");
    }
    if (lines.empty()) {
        std::fprintf(stderr, "replay-peer: %s holds no lines\n", o.file.c_str());
        return 1;
    }

    size_t next = 0;
    double lastAnswer = -1e18;
    int fd = connectTo(o);
    if (fd < 0) return 1;
    for (;;) {
        char c = 0;
        ssize_t n = recv(fd, &c, 1, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fd);
            fd = connectTo(o);
            if (fd < 0) return 1;
            continue;
        }
        if (c != 'g') continue;
        if (next >= lines.size()) {
            if (!o.loop) break;
            next = 0;
        }
        if (o.intervalMs > 0) {
            double wait = lastAnswer + double(o.intervalMs) - nowMs();
            if (wait > 0) sleepThroughSignals(long(wait * 1000.0));
            lastAnswer = nowMs();
        }
        bool ok = sendAll(fd, lines[next++]);
        // Every answer is two lines: looping, a recording of an odd number of
        // lines goes on with its first as the second line.
        if (ok && next >= lines.size() && o.loop) next = 0;
        if (ok && next < lines.size()) {
            sleepThroughSignals(o.gapUs);
            ok = sendAll(fd, lines[next++]);
        }
        if (!ok) {
            close(fd);
            fd = connectTo(o);
            if (fd < 0) return 1;
        }
    }
    close(fd);
    return 0;
}
