#include "memcache.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "misc.h"

namespace memcachereply {

namespace {

const char kEnd[] = "\r\nEND\r\n";  // behind the data of a value
constexpr size_t kEndSize = sizeof kEnd - 1;

// Byte count of the first line with its line feed, 0 while it has not ended.
size_t lineLength(const char* buf, size_t len) {
    const void* nl = memchr(buf, '\n', len);
    return nl ? static_cast<size_t>(static_cast<const char*>(nl) - buf) + 1 : 0;
}

}  // namespace

GetReply parseGet(const char* buf, size_t len, size_t room) {
    GetReply r;
    size_t line = lineLength(buf, len);
    if (line == 0) {
        r.status = len >= room ? Status::Malformed : Status::Incomplete;
        return r;
    }
    if (line < 6 || memcmp(buf, "VALUE ", 6) != 0) {
        r.status = Status::NotValue;
        r.total = line;
        return r;
    }
    // "VALUE <key> <flags> <bytes>\r\n": the byte count stands behind the last blank.
    size_t end = line - 1;
    if (end > 0 && buf[end - 1] == '\r') --end;
    size_t start = end;
    while (start > 6 && buf[start - 1] != ' ') --start;
    if (start == end || buf[start - 1] != ' ') {
        r.status = Status::Malformed;
        return r;
    }
    unsigned long long n = 0;
    for (size_t i = start; i < end; ++i) {
        if (buf[i] < '0' || buf[i] > '9') {
            r.status = Status::Malformed;
            return r;
        }
        n = n * 10 + static_cast<unsigned>(buf[i] - '0');
        if (n > room) {
            r.status = Status::TooLarge;
            return r;
        }
    }
    if (line + n + kEndSize > room) {
        r.status = Status::TooLarge;
        return r;
    }
    r.dataOffset = line;
    r.length = static_cast<unsigned int>(n);
    r.total = line + n + kEndSize;
    if (len < r.total) {
        r.status = Status::Incomplete;
        return r;
    }
    r.status = memcmp(buf + line + n, kEnd, kEndSize) == 0 ? Status::Value : Status::Malformed;
    return r;
}

Status parseSet(const char* buf, size_t len, size_t room, size_t* lineEnd) {
    size_t line = lineLength(buf, len);
    if (line == 0) return len >= room ? Status::Malformed : Status::Incomplete;
    *lineEnd = line;
    return line == 8 && memcmp(buf, "STORED\r\n", 8) == 0 ? Status::Stored : Status::NotValue;
}

}  // namespace memcachereply

using memcachereply::Status;

namespace {

// A key the text protocol can carry: 1..250 bytes, no blanks or control bytes.
bool validKey(const char* key) {
    size_t n = 0;
    for (; key[n] != '\0'; ++n) {
        unsigned char c = static_cast<unsigned char>(key[n]);
        if (c <= ' ' || c == 0x7f || n >= 250) return false;
    }
    return n > 0;
}

// Key of a ring's record item: the ring name and the slot number.
bool recordKey(const char* name, int slot, char (&key)[256]) {
    int n = snprintf(key, sizeof key, "%s%d", name, slot);
    return n > 0 && static_cast<size_t>(n) < sizeof key;
}

// The socket path: literal, except that one "%d" or "%i" stands for 1.
bool socketPath(const char* pattern, char (&path)[sizeof(sockaddr_un::sun_path)]) {
    const char* hole = nullptr;
    int holes = 0;
    for (const char* p = pattern; *p != '\0'; ++p) {
        if (p[0] == '%' && (p[1] == 'd' || p[1] == 'i')) {
            hole = p;
            ++holes;
        }
    }
    size_t len = strlen(pattern);
    if (holes != 1) {
        if (len >= sizeof path) return false;
        memcpy(path, pattern, len + 1);
        return true;
    }
    size_t before = static_cast<size_t>(hole - pattern);
    if (len - 1 >= sizeof path) return false;  // "%d" becomes one character
    memcpy(path, pattern, before);
    path[before] = '1';
    memcpy(path + before + 1, hole + 2, len - before - 2 + 1);
    return true;
}

}  // namespace

Memcache::Memcache(std::chrono::milliseconds timeout)
    : debug(0), server{}, sockfd(-1), serv_addr{}, address{}, hostip(nullptr), timeout_(timeout) {}

Memcache::~Memcache() { close_socket(); }

int Memcache::serverAdd(const char* host, int port) {
    if (strlen(host) >= sizeof server.ip) return 0;
    memcpy(server.ip, host, strlen(host) + 1);
    server.port = port;
    server.socket_tcp = 1;
    return 1;
}

int Memcache::serverAdd(const char* socketFile) {
    char path[sizeof address.sun_path];
    if (strlen(socketFile) >= sizeof server.socketfile || !socketPath(socketFile, path)) return 0;
    memcpy(server.socketfile, socketFile, strlen(socketFile) + 1);
    server.socket_tcp = 0;
    return 1;
}

int Memcache::isConnected() {
    if (sockfd >= 0) return 1;
    if (server.socket_tcp) {
        sockfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (sockfd < 0) util::error("ERROR opening socket");
        hostip = gethostbyname(server.ip);
        if (hostip == nullptr || hostip->h_addrtype != AF_INET || hostip->h_length != 4) {
            fprintf(stderr, "ERROR, no such host %s\n", server.ip);
            exit(1);
        }
        memset(&serv_addr, 0, sizeof serv_addr);
        serv_addr.sin_family = AF_INET;
        memcpy(&serv_addr.sin_addr, hostip->h_addr_list[0], 4);
        serv_addr.sin_port = htons(static_cast<uint16_t>(server.port));
        if (connect(sockfd, reinterpret_cast<sockaddr*>(&serv_addr), sizeof serv_addr) < 0)
            util::error("ERROR connecting");
        printf("\nMemcache connection created");
        return 1;
    }
    sockfd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sockfd < 0) util::error("\nMemcache socket() failed\n");
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    socketPath(server.socketfile, address.sun_path);  // fits: checked by serverAdd
    if (connect(sockfd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        int e = errno;
        printf("\nMemcache socket connect() failed %s\n", address.sun_path);
        errno = e;
        util::error("\nMemcache socket connect() failed");
    }
    return 1;
}

void Memcache::close_socket() {
    if (sockfd >= 0) close(sockfd);
    sockfd = -1;
}

int Memcache::input_timeout(int fd, unsigned int seconds) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        long long ms = static_cast<long long>(seconds) * 1000;
        int r = poll(&p, 1, ms > INT_MAX ? INT_MAX : static_cast<int>(ms));
        if (r >= 0 || errno != EINTR) return r;
    }
}

bool Memcache::sendAll(const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = send(sockfd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

template <typename Complete>
Memcache::Exchange Memcache::readReply(char* buf, size_t* have, Complete complete) {
    using clock = std::chrono::steady_clock;
    const clock::time_point deadline = clock::now() + timeout_;
    while (!complete(buf, *have)) {
        if (*have >= MEMCACHE_BUFFER_SIZE) return Exchange::ReadFailed;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0) return Exchange::Lost;
        pollfd p{sockfd, POLLIN, 0};
        int r = poll(&p, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return Exchange::Lost;
        ssize_t n = recv(sockfd, buf + *have, MEMCACHE_BUFFER_SIZE - *have, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n == 0 || (n < 0 && errno == ECONNRESET)) return Exchange::Lost;
        if (n < 0) return Exchange::ReadFailed;
        *have += static_cast<size_t>(n);
    }
    return Exchange::Done;
}

int Memcache::set(const char* key, void* data, unsigned int length) {
    char buf[MEMCACHE_BUFFER_SIZE];
    if (!validKey(key)) return 0;
    int head = snprintf(buf, sizeof buf, "set %s 0 0 %u\r\n", key, length);
    size_t size = static_cast<size_t>(head) + length + 2;
    if (head < 0 || size > sizeof buf) return 0;
    if (length > 0) memcpy(buf + head, data, length);
    memcpy(buf + head + length, "\r\n", 2);
    isConnected();
    if (!sendAll(buf, size)) {
        if (errno != EPIPE && errno != ECONNRESET) util::error("ERROR writing to socket");
        close_socket();
        return 0;
    }
    size_t have = 0, line = 0;
    Status st = Status::Incomplete;
    Exchange ex = readReply(buf, &have, [&](const char* b, size_t n) {
        st = memcachereply::parseSet(b, n, sizeof buf, &line);
        return st != Status::Incomplete;
    });
    if (ex == Exchange::ReadFailed) util::error("ERROR reading from socket");
    if (ex != Exchange::Done) {
        close_socket();
        return 0;
    }
    if (st == Status::Malformed || have != line) close_socket();  // out of step with the server
    return st == Status::Stored ? 1 : 0;
}

int Memcache::get(const char* key, void* buffer, unsigned int* length, unsigned int capacity) {
    char buf[MEMCACHE_BUFFER_SIZE];
    if (!validKey(key)) return MEMCACHE_WRITE_FAILED;
    int size = snprintf(buf, sizeof buf, "get %s\r\n", key);
    isConnected();
    if (!sendAll(buf, static_cast<size_t>(size))) {
        perror("ERROR writing to socket");
        close_socket();
        return MEMCACHE_WRITE_FAILED;
    }
    size_t have = 0;
    memcachereply::GetReply r;
    Exchange ex = readReply(buf, &have, [&](const char* b, size_t n) {
        r = memcachereply::parseGet(b, n, sizeof buf);
        return r.status != Status::Incomplete;
    });
    if (ex == Exchange::Lost) {
        close_socket();
        return MEMCACHE_LOST;
    }
    if (ex == Exchange::ReadFailed || r.status == Status::Malformed) {
        if (ex == Exchange::ReadFailed) perror("ERROR reading from socket");
        else fprintf(stderr, "ERROR reading from socket: not a reply to get\n");
        close_socket();
        return MEMCACHE_READ_FAILED;
    }
    if (r.status == Status::TooLarge) {
        close_socket();  // the rest of the reply was never read
        return MEMCACHE_TOO_LARGE;
    }
    if (have != r.total) close_socket();  // more than one reply: out of step with the server
    if (r.status == Status::NotValue) return MEMCACHE_MISSING;
    if (r.length > capacity) return MEMCACHE_TOO_LARGE;
    memcpy(buffer, buf + r.dataOffset, r.length);
    *length = r.length;
    return MEMCACHE_OK;
}

int Memcache::getIndexItem(const char* name, int* index) {
    char text[16];
    unsigned int len = 0;
    int r = get(name, text, &len, sizeof text - 1);
    if (r != MEMCACHE_OK) return r;
    text[len] = '\0';
    long v = strtol(text, nullptr, 10);
    *index = v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
    return MEMCACHE_OK;
}

namespace {
// The slot behind `slot`, 0 behind the last; an index from outside the ring starts it again.
int nextSlot(int slot) { return slot < -1 || slot >= MEMCACHE_LAST_SLOT ? 0 : slot + 1; }
}  // namespace

int Memcache::add(const char* name, void* data, unsigned int length) {
    int index = 0;
    int r = getIndexItem(name, &index);
    int slot;
    if (r == MEMCACHE_OK) {
        slot = nextSlot(index);
    } else if (r == MEMCACHE_MISSING) {
        slot = 0;  // a new ring
    } else if (r == MEMCACHE_TOO_LARGE || r == MEMCACHE_READ_FAILED) {
        // An index that is there but cannot be read would hold the ring still
        // for good: it starts again at slot 0.
        setIndex(name, 0);
        slot = 0;
    } else {
        return 1;  // no answer: the index is unknown, storing would overwrite at random
    }
    char key[256];
    if (!recordKey(name, slot, key)) return 1;
    // The index moves only once the record is there, so that no reader takes
    // an old record for a new one.
    if (set(key, data, length) == 1) setIndex(name, slot);
    return 1;
}

int Memcache::getNext(const char* name, int last, void* buffer, unsigned int* length, unsigned int capacity) {
    int index = 0;
    if (getIndexItem(name, &index) != MEMCACHE_OK || index == last) return -1;
    int slot = nextSlot(last);
    char key[256];
    if (!recordKey(name, slot, key)) return -1;
    int r = get(key, buffer, length, capacity);
    return r < 0 ? r : slot;
}

int Memcache::getIndex(const char* name) {
    int index = 0;
    return getIndexItem(name, &index) == MEMCACHE_OK ? index : 0;
}

int Memcache::setIndex(const char* name, int index) {
    char text[16];
    int n = snprintf(text, sizeof text, "%i", index);
    set(name, text, static_cast<unsigned int>(n));
    return 0;
}
