// The keep-alive client against a real loopback TCP listener, and its flag as
// a real System V semaphore under a key of this test's own.
#include <netinet/in.h>
#include <sys/sem.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "configfile.h"
#include "harness.h"
#include "keepalive.h"
#include "sharedmem.h"

namespace {

size_t openDescriptors() {
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd"); it != std::filesystem::directory_iterator(); ++it) ++n;
    return n;
}

// A listener on 127.0.0.1 only, so that a connection to any IPv6 address fails.
struct Listener {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;
    Listener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(fd, reinterpret_cast<sockaddr*>(&a), len);
        listen(fd, 4);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { close(fd); }
    // Everything the next connection sent, up to its close.
    std::string received() {
        int c = accept(fd, nullptr, nullptr);
        std::string all;
        char buf[256];
        for (ssize_t n; (n = recv(c, buf, sizeof buf, 0)) > 0;) all.append(buf, static_cast<size_t>(n));
        close(c);
        return all;
    }
};

ConfigFile radarSettings(const std::string& timeserver, int timeport) {
    ConfigFile cf(5010, 5011);
    cf.setValue("vintor", "portnumber", 3001);
    if (timeserver != "<none>") cf.setValue("vintor", "timeserver", timeserver);
    cf.setValue("vintor", "timeport", timeport);
    cf.setValue("radar0", "scanspeed", 1000);
    cf.setValue("radar0", "timeoffset", 250);
    return cf;
}

}  // namespace

TEST(KeepAlive, SendsCommandPortRadarAndPacingWithItsNulToAnIPv4Server) {
    for (const char* host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        Listener server;
        ConfigFile cf = radarSettings(host, server.port);
        KeepAliveClass keepAlive(&cf, "radar0");
        size_t before = openDescriptors();
        EXPECT_EQ(keepAlive.activateTimer(), 0);
        EXPECT_EQ(openDescriptors(), before);
        EXPECT_EQ(server.received(), std::string("s;3001;radar0;1000;250;\0", 24));
    }
}

TEST(KeepAlive, AFailedLookupOrConnectionReturnsOneAndLeaksNoDescriptor) {
    int refused = testsupport::freePort();
    struct Case {
        const char* timeserver;
        const char* message;
    } cases[] = {{"", "getaddrinfo"}, {"<none>", "getaddrinfo"}, {"127.0.0.1", "keepalive connect"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.timeserver);
        ConfigFile cf = radarSettings(c.timeserver, refused);
        KeepAliveClass keepAlive(&cf, "radar0");
        size_t before = openDescriptors();
        testing::internal::CaptureStderr();
        EXPECT_EQ(keepAlive.activateTimer(), 1);
        EXPECT_NE(testing::internal::GetCapturedStderr().find(c.message), std::string::npos);
        EXPECT_EQ(openDescriptors(), before);
    }
}

TEST(KeepAlive, ProcessClearsTheFlagAlsoWhenItDidNotExist) {
    const int key = 0x4b410000 | (getpid() & 0xffff);
    int stale = semget(key, 1, 0);
    if (stale >= 0) semctl(stale, 0, IPC_RMID);
    ConfigFile cf(5010, 5011);
    KeepAliveClass keepAlive(&cf, "radar0", key);
    EXPECT_EQ(keepAlive.process(), 0);
    int id = semget(key, 1, 0);
    ASSERT_GE(id, 0);
    EXPECT_EQ(getSemaphoreValue(id), 0);
    setSemaphore(id, 1);
    EXPECT_EQ(keepAlive.process(), 0);
    EXPECT_EQ(getSemaphoreValue(id), 0);
    semctl(id, 0, IPC_RMID);
}
