// The services' ZeroMQ text helpers, interrupt handler and text helpers, over
// real loopback sockets and a real gpg with a scratch key home.
#include "childrun.h"
#include "configclient.h"
#include "harness.h"
#include "configrequest.h"
#include "misc.h"
#include "numbers.h"
#include "publisherbind.h"
#include "signalhandler.h"
#include "zhelpers.h"

#include <gtest/gtest.h>
#include <zmq.hpp>

#include <sys/stat.h>

#include <cstdlib>
#include <regex>

using testsupport::TempDir;

namespace {

// A connected PUSH/PULL pair on a loopback port the kernel picks.
struct Pipe {
    zmq::context_t context{1};
    zmq::socket_t pull{context, zmq::socket_type::pull};
    zmq::socket_t push{context, zmq::socket_type::push};
    Pipe()
    {
        pull.bind("tcp://127.0.0.1:*");
        push.connect(pull.get(zmq::sockopt::last_endpoint));
    }
};

TEST(Explode, SplitsAtEveryDelimiterFromTheLeft)
{
    struct { const char* delimiter; const char* text; std::vector<std::string> pieces; } cases[] = {
        {"/", "a/b//c", {"a", "b", "", "c"}},
        {"/", "a/", {"a", ""}},
        {"/", "", {""}},
        {"/", "abc", {"abc"}},
        {"", "abc", {}},
        {"", "", {}},
        {"aa", "aaa", {"", "a"}},
        {"aa", "aaaa", {"", "", ""}},
        {",", ",x,", {"", "x", ""}},
        {"ab", "a", {"a"}},
    };
    for (auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(explode(c.delimiter, &text), c.pieces) << c.delimiter << " in " << c.text;
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(ConfigClient::explode(c.delimiter, c.text), c.pieces) << c.delimiter << " in " << c.text;
    }
}

TEST(IsExactNaN, OnlyTheThreeLettersInAnyCase)
{
    struct { const char* text; bool nan; } cases[] = {
        {"NaN", true}, {"nan", true}, {"NAN", true}, {"nAn", true},
        {"-nan", false}, {" nan", false}, {"nan;", false}, {"", false}, {"na", false}, {"nana", false}, {"inf", false},
    };
    for (auto& c : cases)
        EXPECT_EQ(isExactNaN(c.text), c.nan) << '"' << c.text << '"';
}

TEST(PortTexts, AreBoundOrConnectedOnlyWhenTheyAreAPortNumber)
{
    // The library takes 99999 as 34463, -1 as 65535, 0 as any port and
    // 5033abc as 5033, and refuses a blank or a sign only when it connects.
    struct { const char* text; bool port; } cases[] = {
        {"0", false}, {"1", true}, {"5010", true}, {"05010", true}, {"65535", true},
        {"65536", false}, {"99999", false}, {"4294967297", false}, {"99999999999999999999", false},
        {"-1", false}, {"+5010", false}, {" 5010", false}, {"5010 ", false}, {"5033abc", false},
        {"abc", false}, {"", false}, {"*", false},
    };
    zmq::context_t context(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        int port = -1;
        EXPECT_EQ(parsePortNumber(c.text, &port), c.port);
        const std::string bound = std::string("tcp://127.0.0.1:") + c.text;
        EXPECT_EQ(hasPortNumber(bound), c.port);
        EXPECT_EQ(hasPortNumber(std::string("tcp://[::1]:") + c.text), c.port);
        EXPECT_EQ(hasPortNumber(feedAddress(std::string(c.text))), c.port);
        zmq::socket_t s(context, zmq::socket_type::sub);
        s.set(zmq::sockopt::linger, 0);
        std::string reason;
        EXPECT_EQ(tryConnect(s, bound, &reason), c.port) << reason;
        if (c.port)
            continue;
        EXPECT_EQ(reason, NOT_A_PORT);
        reason.clear();
        EXPECT_FALSE(tryBind(s, bound, &reason));
        EXPECT_EQ(reason, NOT_A_PORT);
        EXPECT_EQ(s.get(zmq::sockopt::last_endpoint), "") << "nothing was bound or connected";
        ConfigRequest request(context, bound, ConfigRequest::Options());
        EXPECT_EQ(request.open(), ConfigRequest::ConnectFailed);
        EXPECT_STREQ(request.reason(), NOT_A_PORT);
    }
    // A configured port is named as given, but for a number's own form; after
    // the host "*" it is all the rest, so "1:5097" is no port 5097.
    EXPECT_EQ(feedAddress(std::string("05051")), "tcp://*:5051");
    EXPECT_EQ(feedAddress(std::string("5097abc")), "tcp://*:5097abc");
    EXPECT_FALSE(hasPortNumber(feedAddress(std::string("1:5097"))));
    // Without a port, or of another transport: the library's to judge.
    for (const char* address : {"tcp://nohost", "tcp://", "inproc://feed:99999", "ipc:///tmp/x:1"})
        EXPECT_TRUE(hasPortNumber(address)) << address;
    zmq::socket_t s(context, zmq::socket_type::sub);
    std::string reason;
    EXPECT_FALSE(tryConnect(s, "tcp://nohost", &reason));
    EXPECT_EQ(reason, "Invalid argument");
}

TEST(Zhelpers, MessagesTravelAsTheirTextWithoutTheNul)
{
    Pipe p;
    EXPECT_EQ(s_recv_nonblocking(p.pull.handle()), nullptr) << "nothing queued";
    EXPECT_EQ(s_send(p.push.handle(), ""), 0);
    EXPECT_EQ(s_send(p.push.handle(), "time,1,2"), 8);
    p.push.send(zmq::buffer(std::string("ab\0cd", 5)), zmq::send_flags::none);

    char* empty = s_recv(p.pull.handle());
    EXPECT_EQ(empty[0], '\0');
    free(empty);
    char* line = s_recv(p.pull.handle());
    EXPECT_STREQ(line, "time,1,2");
    free(line);
    char* cut = s_recv(p.pull.handle());
    EXPECT_STREQ(cut, "ab") << "an embedded NUL ends the text";
    EXPECT_EQ(memcmp(cut, "ab\0cd\0", 6), 0) << "all bytes kept, NUL-terminated";
    free(cut);

    EXPECT_EQ(s_sendmore(p.push.handle(), "head"), 4);
    EXPECT_EQ(s_send(p.push.handle(), "tail"), 4);
    zmq::message_t part;
    ASSERT_TRUE(p.pull.recv(part));
    EXPECT_EQ(part.to_string(), "head");
    EXPECT_TRUE(part.more());
    char* rest = nullptr;
    for (int i = 0; i < 200 && rest == nullptr; i++)
        rest = s_recv_nonblocking(p.pull.handle());
    ASSERT_NE(rest, nullptr);
    EXPECT_STREQ(rest, "tail");
    free(rest);
}

TEST(Zhelpers, AFailedReceiveEndsTheProcessWithStatusThree)
{
    // An expired receive time-out.
    ChildResult timedOut = runChild([] {
        Pipe p;
        p.pull.set(zmq::sockopt::rcvtimeo, 100);
        s_recv(p.pull.handle());
        printf("returned\n");
    });
    EXPECT_TRUE(timedOut.exited);
    EXPECT_EQ(timedOut.status, 3);
    EXPECT_EQ(timedOut.out, "");

    // SIGINT during a blocking receive: the handler reports and sets stop, then
    // the interrupted receive ends the process. The signal is sent until the
    // child ends, so it also lands once the child has reached the receive.
    ChildResult interrupted = runChild(
        [] {
            stop = 0;
            signal(SIGINT, signalHandler);
            atexit([] { printf("stop=%d\n", static_cast<int>(stop)); });
            Pipe p;
            s_recv(p.pull.handle());
            printf("returned\n");
        },
        std::chrono::milliseconds(20000), [](pid_t child) { kill(child, SIGINT); });
    EXPECT_TRUE(interrupted.exited);
    EXPECT_EQ(interrupted.status, 3);
    EXPECT_TRUE(std::regex_match(interrupted.out, std::regex("(Interrupt signal \\(2\\) received\\.\n)+stop=1\n")))
        << interrupted.out;
}

TEST(SignalHandler, ReportsTheSignalAndOnlySetsTheFlag)
{
    ChildResult r = runChild([] {
        stop = 0;
        signal(SIGINT, signalHandler);
        printf("before=%d\n", static_cast<int>(stop));
        fflush(stdout);
        raise(SIGINT);
        raise(SIGINT);
        printf("after=%d\n", static_cast<int>(stop));
    });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << "the handler does not end the process";
    EXPECT_EQ(r.out, "before=0\nInterrupt signal (2) received.\nInterrupt signal (2) received.\nafter=1\n");
}

TEST(Zhelpers, DumpShowsEachPartAsTextOrHex)
{
    ChildResult r = runChild([] {
        Pipe p;
        p.push.send(zmq::buffer(std::string("A\n")), zmq::send_flags::sndmore);
        p.push.send(zmq::buffer(std::string("hello")), zmq::send_flags::sndmore);
        p.push.send(zmq::buffer(std::string("\x7F")), zmq::send_flags::sndmore);
        p.push.send(zmq::buffer(std::string("\x80")), zmq::send_flags::none);
        s_dump(p.pull.handle());
        s_version();
    });
    EXPECT_EQ(r.status, 0);
    int major, minor, patch;
    zmq_version(&major, &minor, &patch);
    char version[64];
    snprintf(version, sizeof version, "Current 0MQ version is %d.%d.%d\n", major, minor, patch);
    EXPECT_EQ(r.out, std::string(40, '-') + "\n[002] 410A\n[005] hello\n[001] \x7F\n[001] 80\n" + version);
}

TEST(Zhelpers, RandomIdentityIsTwoHexHalves)
{
    zmq::context_t context(1);
    zmq::socket_t dealer(context, zmq::socket_type::dealer);
    for (int i = 0; i < 20; i++) {
        s_set_id(dealer.handle());
        std::string id = dealer.get(zmq::sockopt::routing_id);
        EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{4,5}-[0-9A-F]{4,5}"))) << id;
    }
}

// gpg with a key home of its own, so root's keyring is left alone.
class Gpg : public ::testing::Test {
protected:
    void SetUp() override
    {
        home = dir.file("gnupg");
        mkdir(home.c_str(), 0700);
        const char* old = getenv("GNUPGHOME");
        if (old != nullptr)
            previous = old;
        hadPrevious = old != nullptr;
        setenv("GNUPGHOME", home.c_str(), 1);
    }
    void TearDown() override
    {
        // gpg may have started an agent for this home; end it with the home.
        runChild([] { execlp("gpgconf", "gpgconf", "--kill", "all", static_cast<char*>(nullptr)); });
        if (hadPrevious)
            setenv("GNUPGHOME", previous.c_str(), 1);
        else
            unsetenv("GNUPGHOME");
    }
    TempDir dir;
    std::string home, previous;
    bool hadPrevious = false;
};

TEST_F(Gpg, DecryptingGivesTheMessageBackWithoutLineFeeds)
{
    std::string marker = dir.file("touched");
    struct { std::string message, passphrase, back; } cases[] = {
        {"hello world", "secret", "hello world"},
        {"two\nlines\n", "secret", "twolines"},
        {"\"; touch " + marker + "; \"", "secret", "\"; touch " + marker + "; \""},
        {"$(touch " + marker + ") `touch " + marker + "`", "a b \"c\"; touch " + marker, "$(touch " + marker + ") `touch " + marker + "`"},
        {"", "x", ""},
    };
    for (auto& c : cases) {
        std::string armored = encrypt_message(c.message, c.passphrase);
        EXPECT_EQ(armored.rfind("-----BEGIN PGP MESSAGE-----\n", 0), 0u) << armored;
        EXPECT_NE(armored.find("-----END PGP MESSAGE-----\n"), std::string::npos);
        EXPECT_EQ(decrypt_message(armored, c.passphrase), c.back) << c.message;
    }
    struct stat st;
    EXPECT_NE(stat(marker.c_str(), &st), 0) << "message or passphrase reached a shell";

    // Kept as the callers know it: a wrong passphrase is not reported.
    std::string armored = encrypt_message("hidden", "right");
    EXPECT_EQ(decrypt_message(armored, "wrong"), "");
}

TEST_F(Gpg, AProgramThatCannotStartThrows)
{
    ChildResult r = runChild([] {
        setenv("PATH", "/nonexistent", 1);
        for (int i = 0; i < 2; i++) {
            try {
                i == 0 ? encrypt_message("m", "p") : decrypt_message("m", "p");
                printf("no exception\n");
            } catch (const std::runtime_error& e) {
                printf("%s\n", e.what());
            }
        }
    });
    EXPECT_EQ(r.out, "popen() failed!\npopen() failed!\n");
}

} // namespace
