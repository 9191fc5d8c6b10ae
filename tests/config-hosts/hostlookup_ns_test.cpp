// Every program that takes the configuration service's host, given one that
// does not resolve, in a private namespace: loopback only, so that no name
// server can be reached, as on a station whose network is not up yet.
#include "harness.h"
#include "hostlookup.h"

#include <gtest/gtest.h>

#include <netdb.h>
#include <sys/mount.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

using namespace testsupport;
using std::chrono::milliseconds;

namespace {

// How a name fares here, asked apart from the programs: EAI_AGAIN where no
// name server can be reached (the namespace as made), EAI_NONAME where one
// answers (a resolver that reaches out of it).
struct Answer {
    int error;
    milliseconds took;
};

Answer lookUp(const char* host)
{
    const auto start = std::chrono::steady_clock::now();
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int r = getaddrinfo(host, nullptr, &hints, &found);
    if (r == 0)
        freeaddrinfo(found);
    return {r, std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start)};
}

// The program with only its standard error read by the test.
std::unique_ptr<Process> standardErrorOf(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<std::string> shell = {"-c", "exec \"$0\" \"$@\" 2>&1 >/dev/null", program};
    shell.insert(shell.end(), args.begin(), args.end());
    return std::make_unique<Process>("/bin/sh", shell);
}

TEST(UnresolvedHost, EveryProgramNamesItAtOnceEvenWhenQuiet)
{
    const Answer here = lookUp("nohost.invalid");
    if (here.error == 0)
        GTEST_SKIP() << "nohost.invalid resolves here";
    // Either answer is quick here; a name server that never answers would
    // make every program wait for it first.
    ASSERT_LT(here.took, milliseconds(3000)) << gai_strerror(here.error);
    const bool notYet = here.error == EAI_AGAIN;
    const std::string said = "configuration service tcp://nohost.invalid:5010: host nohost.invalid does not resolve (" +
                             std::string(gai_strerror(here.error)) + ")";
    const std::string c = "nohost.invalid:5010";
    const struct {
        const char* program;
        std::vector<std::string> args;
        bool service;
    } programs[] = {
        {HEADING_ADJUST_BIN, {"-c", c}, true},
        {UNIT_RELAY_BIN, {"-q", "-c", c}, true},
        {FEED_BRIDGE_BIN, {"-q", "-c", c}, true},
        {DRIFT_MEAN_BIN, {"-q", "-c", c}, true},
        {HEAVE_SMOOTHER_BIN, {"-q", "-c", c}, true},
        {CLIMATE_SENSOR_BIN, {"-c", c}, true},
        {FEED_LISTEN_BIN, {"-q", "-a", "nohost.invalid"}, false},
        {CONFIG_CLI_BIN, {"-q", "-a", "nohost.invalid", "-j", "{}"}, false},
    };
    std::vector<std::unique_ptr<Process>> running;
    for (const auto& p : programs)
        running.push_back(standardErrorOf(p.program, p.args));
    for (size_t i = 0; i < running.size(); i++) {
        const auto& p = programs[i];
        Process& program = *running[i];
        // A service waits for a name that cannot be looked up yet, as for a
        // silent service; a name that does not exist, or a tool, ends.
        const bool waits = p.service && notYet;
        std::string line;
        EXPECT_TRUE(program.waitForLine("nohost.invalid", milliseconds(5000) + here.took, &line)) << p.program;
        EXPECT_EQ(line, said + (waits ? "; looking it up again every 5 s" : "")) << p.program;
        if (waits) {
            EXPECT_FALSE(program.wait(milliseconds(300))) << p.program;
        } else {
            // heave-smoother's supervisor sees its worker end within its 5 s watch.
            EXPECT_TRUE(program.wait(milliseconds(8000))) << p.program;
            EXPECT_EQ(program.exitCode(), 1) << p.program;
        }
        program.drain(milliseconds(waits ? 100 : 2000));
        EXPECT_EQ(program.output(), line + "\n") << p.program;
    }
}

// An address the program's socket can never reach, with no name server
// involved: no host at all, or an IPv6 address where the socket is IPv4 only.
TEST(UnresolvedHost, EveryProgramNamesAnAddressItCannotReachAndEnds)
{
    const std::string noHost = "host does not resolve (no host given)";
    const std::string v4Only = "host ::1 does not resolve (an IPv6 address, and this program connects over IPv4 only)";
    const struct {
        const char* program;
        std::vector<std::string> args;
        const char* endpoint;
        const std::string& why;
    } rows[] = {
        {HEADING_ADJUST_BIN, {"-c", ":5010"}, "tcp://:5010", noHost},
        {UNIT_RELAY_BIN, {"-q", "-c", ":5010"}, "tcp://:5010", noHost},
        {FEED_BRIDGE_BIN, {"-q", "-c", ":5010"}, "tcp://:5010", noHost},
        {DRIFT_MEAN_BIN, {"-q", "-c", ":5010"}, "tcp://:5010", noHost},
        {HEAVE_SMOOTHER_BIN, {"-q", "-c", ":5010"}, "tcp://:5010", noHost},
        {CLIMATE_SENSOR_BIN, {"-o", "-c", ":5010"}, "tcp://:5010", noHost},
        {CLIMATE_SENSOR_BIN, {"-o", "-c", "[::1]:5010"}, "tcp://[::1]:5010", v4Only},
        {FEED_LISTEN_BIN, {"-q", "-a", ""}, "tcp://:5010", noHost},
        {CONFIG_CLI_BIN, {"-q", "-a", "", "-j", "{}"}, "tcp://:5010", noHost},
    };
    std::vector<std::unique_ptr<Process>> running;
    for (const auto& r : rows)
        running.push_back(standardErrorOf(r.program, r.args));
    for (size_t i = 0; i < running.size(); i++) {
        const auto& r = rows[i];
        const std::string where = std::string(r.program) + " " + r.endpoint;
        Process& program = *running[i];
        const std::string said = std::string("configuration service ") + r.endpoint + ": " + r.why;
        std::string line;
        EXPECT_TRUE(program.waitForLine("does not resolve", milliseconds(5000), &line)) << where;
        EXPECT_EQ(line, said) << where;
        // heave-smoother's supervisor sees its worker end within its 5 s watch.
        ASSERT_TRUE(program.wait(milliseconds(8000))) << where;
        EXPECT_EQ(program.exitCode(), 1) << where;
        program.drain(milliseconds(2000));
        EXPECT_EQ(program.output(), line + "\n") << where;
    }
}

TEST(UnresolvedHost, AddressesAndLocalNamesNeedNoNameServer)
{
    if (lookUp("nohost.invalid").error != EAI_AGAIN)
        GTEST_SKIP() << "a name server answers here";
    for (const char* host : {"127.0.0.1", "::1", "fe80::1%lo", "*", "localhost"}) {
        std::string reason;
        EXPECT_EQ(lookUpHost(host, true, &reason), HostLookup::Found) << host << ": " << reason;
    }
    std::string reason;
    EXPECT_EQ(lookUpHost("127.0.0.1", false, &reason), HostLookup::Found) << reason;
    EXPECT_EQ(lookUpHost("localhost", false, &reason), HostLookup::Found) << reason;
    EXPECT_EQ(lookUpHost("nohost.invalid", true, &reason), HostLookup::NotYet);
    EXPECT_EQ(reason, gai_strerror(EAI_AGAIN));
    for (const std::string& never : {std::string("a\0b", 3), std::string()})
        EXPECT_EQ(lookUpHost(never, true, &reason), HostLookup::Unknown);
    for (const char* v6 : {"::1", "fe80::1%lo"})
        EXPECT_EQ(lookUpHost(v6, false, &reason), HostLookup::Unknown) << v6;
}

TEST(UnresolvedHost, AServiceGoesOnOnceItsHostResolves)
{
    if (lookUp("lateunit.invalid").error != EAI_AGAIN)
        GTEST_SKIP() << "needs a namespace where no name server can be reached";
    // The network coming up is the name appearing in a private /etc/hosts.
    TempDir dir;
    const std::string hosts = readFile("/etc/hosts");
    writeFile(dir.file("hosts"), hosts);
    if (mount(dir.file("hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot cover /etc/hosts: " << strerror(errno);
    struct Uncover {
        ~Uncover() { umount2("/etc/hosts", MNT_DETACH); }
    } uncover;

    ConfigServiceOptions o;
    o.config = dir.file("station.json");
    writeFile(o.config, readFile(sourcePath("config/station.json")));
    o.requestLog = dir.file("requests.log");
    auto service = startConfigService(o);
    ASSERT_TRUE(service);
    auto program = standardErrorOf(HEADING_ADJUST_BIN, {"-c", "lateunit.invalid:5010"});
    std::string line;
    ASSERT_TRUE(program->waitForLine("lateunit.invalid", milliseconds(5000), &line));
    EXPECT_NE(line.find("does not resolve"), std::string::npos) << line;
    EXPECT_TRUE(readRequestLog(o.requestLog).empty());

    writeFile(dir.file("hosts"), hosts + "127.0.0.1 lateunit.invalid\n");
    // Looked up again within 5 s, it asks; with no section of its own in the
    // station's configuration it then ends with 0.
    ASSERT_TRUE(program->wait(milliseconds(12000)));
    EXPECT_EQ(program->exitCode(), 0);
    EXPECT_EQ(readRequestLog(o.requestLog).size(), 1u);
    program->drain(milliseconds(2000));
    EXPECT_EQ(program->output(), line + "\n");
}

} // namespace
