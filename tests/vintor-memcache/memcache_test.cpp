// The ring client against a real memcached server on loopback TCP and on a
// Unix socket, and against a small stand-in for what a real server never does
// on request: stay silent, dribble a reply out, drop the connection.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "memcache.h"
#include "records.h"

using namespace std::chrono_literals;
using testsupport::Process;
using testsupport::TempDir;

namespace {

// A memcached server of its own, on 127.0.0.1:port or on a Unix socket path.
struct Memcached {
    std::unique_ptr<Process> process;
    int port = 0;

    explicit Memcached(const std::string& unixPath = "", std::vector<std::string> args = {}) {
        if (geteuid() == 0) args.insert(args.end(), {"-u", "root"});
        sockaddr_storage at{};
        auto* in = reinterpret_cast<sockaddr_in*>(&at);
        auto* un = reinterpret_cast<sockaddr_un*>(&at);
        if (unixPath.empty()) {
            args.insert(args.end(), {"-U", "0", "-l", "127.0.0.1", "-p", ""});
            *in = sockaddr_in{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        } else {
            args.insert(args.end(), {"-s", unixPath});
            un->sun_family = AF_UNIX;
            snprintf(un->sun_path, sizeof un->sun_path, "%s", unixPath.c_str());
        }
        auto ready = [&] {
            int fd = socket(at.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
            bool ok = connect(fd, reinterpret_cast<sockaddr*>(&at), unixPath.empty() ? sizeof *in : sizeof *un) == 0;
            close(fd);
            return ok;
        };
        for (int attempt = 0; attempt < 3 && !process; ++attempt) {  // another test may take the port
            if (unixPath.empty()) {
                port = testsupport::freePort();
                args.back() = std::to_string(port);
                in->sin_port = htons(static_cast<uint16_t>(port));
            }
            process = std::make_unique<Process>("memcached", args);
            for (int i = 0; i < 500 && process->running() && !ready(); ++i) std::this_thread::sleep_for(20ms);
            if (!process->running() || !ready()) process.reset();
        }
        if (!process) throw std::runtime_error("memcached did not start");
    }
};

// Stands in for memcached where only a scripted server can misbehave: answers
// every request with `reply` in pieces of `chunk` bytes, or stays silent, or
// closes the connection. Counts connections and requests.
class StandIn {
public:
    enum class Mode { Answer, Silent, Close };
    StandIn(Mode mode, std::string reply = "", size_t chunk = 1) : mode_(mode), reply_(std::move(reply)), chunk_(chunk) {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(listen_, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(listen_, 8) != 0 ||
            getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("stand-in listener");
        port = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~StandIn() {
        stop_ = true;
        thread_.join();
        close(listen_);
    }
    int port = 0;
    std::atomic<int> connections{0}, requests{0}, sets{0};

private:
    // Bytes of the first whole request in `in`, 0 while it is incomplete.
    static size_t requestSize(const std::string& in) {
        size_t eol = in.find("\r\n");
        if (eol == std::string::npos) return 0;
        size_t size = eol + 2;
        if (in.compare(0, 4, "set ") == 0) size += std::stoul(in.substr(in.rfind(' ', eol) + 1)) + 2;
        return in.size() >= size ? size : 0;
    }
    bool readable(int fd) {
        pollfd p{fd, POLLIN, 0};
        while (!stop_)
            if (poll(&p, 1, 20) > 0) return true;
        return false;
    }
    void run() {
        while (readable(listen_)) {
            int fd = accept(listen_, nullptr, nullptr);
            ++connections;
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::string in;
            char buf[4096];
            ssize_t n;
            while (readable(fd) && (n = recv(fd, buf, sizeof buf, 0)) > 0) {
                in.append(buf, static_cast<size_t>(n));
                for (size_t size; (size = requestSize(in)) > 0; in.erase(0, size)) {
                    ++requests;
                    sets += in.compare(0, 4, "set ") == 0;
                    if (mode_ == Mode::Close) shutdown(fd, SHUT_RDWR);
                    for (size_t at = 0; mode_ == Mode::Answer && at < reply_.size(); at += chunk_) {
                        send(fd, reply_.data() + at, std::min(chunk_, reply_.size() - at), MSG_NOSIGNAL);
                        std::this_thread::sleep_for(200us);
                    }
                }
            }
            close(fd);
        }
    }
    Mode mode_;
    std::string reply_;
    size_t chunk_;
    int listen_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string item(Memcache& m, const std::string& key) {
    char buf[MEMCACHE_BUFFER_SIZE];
    unsigned int len = 0;
    return m.get(key.c_str(), buf, &len, sizeof buf) == MEMCACHE_OK ? std::string(buf, len) : "<missing>";
}

// A spectrum record whose every byte depends on n.
fft_st spectrum(unsigned n) {
    fft_st f;
    auto* b = reinterpret_cast<unsigned char*>(&f);
    for (size_t i = 0; i < sizeof f; ++i) b[i] = static_cast<unsigned char>((i * 131 + n * 7 + (i >> 8)) & 0xff);
    return f;
}

// Both transports of a real server, each with a client pointed at it.
struct Served {
    const char* transport;
    TempDir dir;
    std::unique_ptr<Memcached> server;
    Memcache client;
    explicit Served(bool tcp) : transport(tcp ? "tcp" : "unix") {
        server = std::make_unique<Memcached>(tcp ? "" : dir.file("mc.sock"));
        EXPECT_EQ(tcp ? client.serverAdd("127.0.0.1", server->port) : client.serverAdd(dir.file("mc.sock").c_str()), 1);
    }
};

}  // namespace

TEST(Ring, StoresSlotsAndIndexWrapsAfterFiftyOverTcpAndUnixSocket) {
    for (bool tcp : {true, false}) {
        Served s(tcp);
        Memcache& m = s.client;
        SCOPED_TRACE(s.transport);
        char text[10];
        for (int i = 0; i < 53; ++i) {
            snprintf(text, sizeof text, "task%05d", i);
            EXPECT_EQ(m.add("tasks", text, 9), 1);
            if (i < 2) {
                EXPECT_EQ(item(m, "tasks" + std::to_string(i)), text);
                EXPECT_EQ(item(m, "tasks"), std::to_string(i));
            }
        }
        // 53 adds over 51 slots: slots 0..50, then 0 and 1 again.
        EXPECT_EQ(item(m, "tasks"), "1");
        EXPECT_EQ(item(m, "tasks50"), "task00050");
        EXPECT_EQ(item(m, "tasks0"), "task00051");
        m.setIndex("tasks", 0);
        char buf[16];
        unsigned int len = 0;
        EXPECT_EQ(m.getNext("tasks", 0, buf, &len, sizeof buf), -1);
        m.setIndex("tasks", 3);
        ASSERT_EQ(m.getNext("tasks", 0, buf, &len, sizeof buf), 1);
        EXPECT_EQ(std::string(buf, len), "task00052");
        EXPECT_EQ(m.getIndex("tasks"), 3);
    }
}

TEST(Ring, SpectrumRecordsComeBackWholeAndOversizeOrMissingLeaveTheBufferAlone) {
    for (bool tcp : {true, false}) {
        Served s(tcp);
        Memcache& m = s.client;
        SCOPED_TRACE(s.transport);
        unsigned int len = 0;
        auto got = std::make_unique<fft_st>();
        EXPECT_EQ(m.getNext("f", 0, got.get(), &len, sizeof *got), -1);  // no ring yet
        for (unsigned n = 0; n < 3; ++n) {
            fft_st f = spectrum(n);
            m.add("f", &f, sizeof f);
        }
        int last = MEMCACHE_LAST_SLOT;  // the slot before 0
        for (unsigned n = 0; n < 3; ++n) {
            ASSERT_EQ(last = m.getNext("f", last, got.get(), &len, sizeof *got), static_cast<int>(n));
            fft_st want = spectrum(n);
            EXPECT_EQ(len, 17248u);
            EXPECT_EQ(memcmp(got.get(), &want, sizeof want), 0);
        }
        EXPECT_EQ(m.getNext("f", last, got.get(), &len, sizeof *got), -1);

        memset(got.get(), 0x5a, sizeof *got);
        len = 7;
        EXPECT_EQ(m.get("f1", got.get(), &len, sizeof *got - 1), MEMCACHE_TOO_LARGE);
        EXPECT_EQ(m.get("f9", got.get(), &len, sizeof *got), MEMCACHE_MISSING);
        auto* b = reinterpret_cast<unsigned char*>(got.get());
        EXPECT_TRUE(std::all_of(b, b + sizeof *got, [](unsigned char c) { return c == 0x5a; }));
        EXPECT_EQ(len, 7u);
        EXPECT_EQ(item(m, "f"), "2");  // still in step with the server
    }
}

TEST(Ring, ARecordTheServerRefusesIsNotCountedAndTheRingStaysPut) {
    // This server takes items up to 16 KB: a spectrum record is refused with an error line.
    TempDir dir;
    Memcached server(dir.file("small.sock"), {"-I", "16k", "-o", "slab_chunk_max=8192"});
    Memcache m;
    ASSERT_EQ(m.serverAdd(dir.file("small.sock").c_str()), 1);
    peak_st p{};
    fft_st f = spectrum(1);
    EXPECT_EQ(m.set("big", &f, sizeof f), 0);
    m.add("p", &p, sizeof p);
    m.add("p", &f, sizeof f);
    EXPECT_EQ(m.getIndex("p"), 0);
    EXPECT_EQ(item(m, "p1"), "<missing>");
    EXPECT_EQ(m.set("small", &p, sizeof p), 1);
}

TEST(Ring, ASilentOrClosingServerFailsEachCallAndTheNextCallConnectsAgain) {
    for (auto mode : {StandIn::Mode::Silent, StandIn::Mode::Close}) {
        StandIn server(mode);
        Memcache m(300ms);
        m.serverAdd("127.0.0.1", server.port);
        char buf[32] = "untouched";
        unsigned int len = 0;
        EXPECT_EQ(m.set("k", buf, 3), 0);
        EXPECT_EQ(m.get("k", buf, &len, sizeof buf), MEMCACHE_LOST);
        EXPECT_EQ(m.getIndex("tasks"), 0);
        EXPECT_EQ(m.getNext("tasks", 4, buf, &len, sizeof buf), -1);
        EXPECT_EQ(m.add("tasks", buf, 3), 1);
        EXPECT_STREQ(buf, "untouched");
        EXPECT_EQ(m.sockfd, -1);
        // The stand-in may read the last request after the client has given up on it.
        for (int i = 0; i < 250 && server.requests < 5; ++i) std::this_thread::sleep_for(20ms);
        EXPECT_EQ(server.connections, 5);
        EXPECT_EQ(server.requests, 5);
        EXPECT_EQ(server.sets, 1);  // add stored nothing without knowing the index
    }
}

namespace {

// Stores an item over a connection of its own, past the client's own limits.
bool storeDirectly(int port, const std::string& key, const std::string& value) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return false;
    }
    const std::string request = "set " + key + " 0 0 " + std::to_string(value.size()) + "\r\n" + value + "\r\n";
    bool sent = send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
    std::string reply;
    char buf[64];
    ssize_t n;
    while (sent && reply.find("\r\n") == std::string::npos && (n = recv(fd, buf, sizeof buf, 0)) > 0)
        reply.append(buf, static_cast<size_t>(n));
    close(fd);
    return reply == "STORED\r\n";
}

}  // namespace

// An index item that is there but cannot be read must not hold the ring still
// for good: the next add stores "0" as the index and the record in slot 0.
TEST(Ring, AnIndexItemThatCannotBeReadStartsTheRingAgainAtSlotZero) {
    const struct {
        const char* what;
        std::string index;
    } rows[] = {
        {"too long for the index", std::string(24, '7')},
        {"longer than a whole reply takes", std::string(MEMCACHE_BUFFER_SIZE + 100, '7')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Served s(true);
        Memcache& m = s.client;
        ASSERT_TRUE(storeDirectly(s.server->port, "tasks", row.index));
        EXPECT_EQ(m.add("tasks", const_cast<char*>("first"), 5), 1);
        EXPECT_EQ(item(m, "tasks"), "0");
        EXPECT_EQ(item(m, "tasks0"), "first");
        m.add("tasks", const_cast<char*>("second"), 6);
        EXPECT_EQ(item(m, "tasks"), "1");
        EXPECT_EQ(item(m, "tasks1"), "second");
    }
    // A reply that makes no sense, where only a scripted server sends one: the
    // index "0" and the record are both sent.
    StandIn server(StandIn::Mode::Answer, "VALUE tasks 0 3\r\nabcdEND\r\n\r\n");
    Memcache m(300ms);
    m.serverAdd("127.0.0.1", server.port);
    EXPECT_EQ(m.add("tasks", const_cast<char*>("first"), 5), 1);
    for (int i = 0; i < 250 && server.sets < 2; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(server.sets, 2);
}

TEST(Ring, RepliesArrivingInPiecesAreAssembled) {
    fft_st f = spectrum(4);
    std::string big = "VALUE f4 0 17248\r\n" + std::string(reinterpret_cast<char*>(&f), sizeof f) + "\r\nEND\r\n";
    struct Case {
        std::string reply;
        size_t chunk;
        bool isSet;
        int result;
        std::string value;
    } cases[] = {
        {"STORED\r\n", 1, true, 1, ""},
        {"NOT_STORED\r\n", 1, true, 0, ""},
        {"SERVER_ERROR out of memory storing object\r\n", 5, true, 0, ""},
        {"VALUE k 0 3\r\nabc\r\nEND\r\n", 1, false, MEMCACHE_OK, "abc"},
        {"END\r\n", 1, false, MEMCACHE_MISSING, ""},
        {"SERVER_ERROR busy\r\n", 1, false, MEMCACHE_MISSING, ""},
        {"VALUE k 0 3\r\nabcdEND\r\n\r\n", 1, false, MEMCACHE_READ_FAILED, ""},
        {"VALUE k 0 99999\r\n", 1, false, MEMCACHE_TOO_LARGE, ""},
        {big, 1000, false, MEMCACHE_OK, big.substr(18, sizeof f)},
        {big, 4000, false, MEMCACHE_OK, big.substr(18, sizeof f)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.substr(0, 20));
        StandIn server(StandIn::Mode::Answer, c.reply, c.chunk);
        Memcache m;
        m.serverAdd("localhost", server.port);
        std::vector<char> buf(sizeof f);
        unsigned int len = 0;
        EXPECT_EQ(c.isSet ? m.set("k", buf.data(), 3) : m.get("k", buf.data(), &len, sizeof f), c.result);
        if (!c.value.empty()) {
            EXPECT_EQ(std::string(buf.data(), len), c.value);
        }
    }
}

TEST(Connection, SocketPathIsTakenLiterallyExceptOneNumberHole) {
    struct Case {
        const char* given;
        const char* served;
    } cases[] = {{"mc%s%n.sock", "mc%s%n.sock"}, {"mc%d.sock", "mc1.sock"}, {"mc%i%x.sock", "mc1%x.sock"},
                 {"mc%d%d.sock", "mc%d%d.sock"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        TempDir dir;
        Memcached server(dir.file(c.served));
        Memcache m;
        ASSERT_EQ(m.serverAdd(dir.file(c.given).c_str()), 1);
        EXPECT_EQ(m.set("k", const_cast<char*>("v"), 1), 1);
    }
}

TEST(Connection, AddressesThatDoNotFitAreRefused) {
    Memcache m;
    std::string dir = "/tmp/" + std::string(94, 'd') + "/";  // 100 characters
    EXPECT_EQ(m.serverAdd(std::string(19, 'h').c_str(), 11211), 1);
    EXPECT_EQ(m.serverAdd(std::string(20, 'h').c_str(), 11211), 0);
    EXPECT_EQ(m.serverAdd((dir + "mc.sock").c_str()), 1);   // 107 and a NUL fill the path field
    EXPECT_EQ(m.serverAdd((dir + "mc1.sock").c_str()), 0);
    EXPECT_EQ(m.serverAdd((dir + "m%d.sock").c_str()), 0);  // the field keeps the text as given
}

TEST(Connection, AClientThatNeverConnectedLeavesStandardInputOpen) {
    ASSERT_NE(fcntl(0, F_GETFD), -1) << "the test needs an open standard input";
    { Memcache m; }
    Memcache m;
    m.close_socket();
    EXPECT_NE(fcntl(0, F_GETFD), -1);
}

TEST(Connection, AServerThatCannotBeReachedEndsTheProcessWithStatusOne) {
    testing::GTEST_FLAG(death_test_style) = "threadsafe";
    TempDir dir;
    int refused = testsupport::freePort();
    struct Case {
        bool tcp;
        std::string where;
        const char* message;
    } cases[] = {
        {true, "", "ERROR, no such host"},  // an empty name fails without asking any resolver
        {true, "127.0.0.1", "ERROR connecting"},
        {false, dir.file("x%s%n"), "Memcache socket connect\\(\\) failed"},
    };
    for (const Case& c : cases) {
        Memcache m;
        ASSERT_EQ(c.tcp ? m.serverAdd(c.where.c_str(), refused) : m.serverAdd(c.where.c_str()), 1);
        EXPECT_EXIT(m.isConnected(), testing::ExitedWithCode(1), c.message);
    }
}
