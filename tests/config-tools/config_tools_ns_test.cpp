// config-cli and config-read as whole programs in a private namespace, against
// the configuration stand-in on its fixed ports 5010 and 5011.
#include "harness.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace testsupport;

namespace {

const char* const STATION = R"({"vintor":{"height":"300","angle":"10"},"radar":{"sweepsize":"512"}})";

class ConfigTools : public ::testing::Test {
protected:
    void start(const std::string& reply = "")
    {
        service.reset();
        writeFile(dir.file("station.json"), STATION);
        options.config = dir.file("station.json");
        options.requestLog = dir.file("requests.log");
        options.reply = reply;
        service = startConfigService(options);
        ASSERT_TRUE(service);
    }
    // The stand-in's own answer, asked apart from the tools.
    std::string answer(const std::string& text)
    {
        std::string reply;
        EXPECT_TRUE(request("tcp://127.0.0.1:5010", text, &reply));
        return reply;
    }
    std::vector<std::string> requests() { return readRequestLog(options.requestLog); }

    TempDir dir;
    ConfigServiceOptions options;
    std::unique_ptr<Process> service;
};

const std::string CLI = CONFIG_CLI_BIN;
const std::string READ = CONFIG_READ_BIN;
const std::string GET = R"({"get":{"vintor":""}})";

TEST_F(ConfigTools, ConfigCliSendsTheRequestUnchangedAndPrintsTheReply)
{
    start();
    Finished f = runToEnd(CLI, {"-q", "-j", GET});
    EXPECT_EQ(f.code, 0);
    EXPECT_EQ(f.out, answer(GET) + "\n");
    EXPECT_EQ(requests().front(), GET);

    f = runToEnd(CLI, {});
    EXPECT_EQ(f.code, 0);
    EXPECT_EQ(f.out, "Connecting to configurator server\nSending request ..\nReceived: " + answer("") + "\nDone\n");
    EXPECT_EQ(requests()[2], ""); // an empty message

    // Not waiting for the reply still delivers the request.
    const std::string set = R"({"set":{"vintor":{"height":"301"}}})";
    f = runToEnd(CLI, {"-q", "-t", "0", "-j", set});
    EXPECT_EQ(f.code, 0);
    EXPECT_EQ(f.out, "\n");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (requests().back() != set && std::chrono::steady_clock::now() < deadline)
        usleep(20000);
    EXPECT_EQ(requests().back(), set);
}

TEST_F(ConfigTools, ConfigCliGivesUpOnASilentServiceWithStatus100)
{
    start("silent");
    auto begin = std::chrono::steady_clock::now();
    Finished f = runToEnd(CLI, {"-t", "1", "-j", GET});
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(900));
    EXPECT_EQ(f.code, 100);
    EXPECT_EQ(f.out, "Connecting to configurator server\nSending request " + GET + "..\nReceived: \nDone\n");
}

TEST(ConfigCliCommandLine, RefusesBadOptionsWithTheUsage)
{
    Finished f = runToEnd(CLI, {"-x"}, true);
    EXPECT_EQ(f.code, 1);
    EXPECT_EQ(f.out, "Unknown option `-x'.\nERROR, No configurator portnumber or json\n"
                     "\t-a <ip addres>   -> Ip address of a remote system (ipv6 is also possible)\n"
                     "\t-j '{....}'      -> json input\n"
                     "\t-t               -> timeout; defaults to 10s\n"
                     "\t-q               -> json only output, easy parsing\n"
                     "Use: " + CLI + " -j '<json>' [-a <ip>] [-j] \n"
                     " bv: " + CLI + " -j '{\"set\":{\"vintor\":{\"height\":\"300\",\"angle\": \"10\"}}'\n"
                     " bv: " + CLI + " -j '{\"get\":{\"vintor\":\"\"}}'\n"
                     " bv: " + CLI + " -j '{\"get\":{\"vintor\":\"\"}}' -a \"fe80::1%eth0\" -q\n\n");
    f = runToEnd(CLI, {"-a"}, true);
    EXPECT_EQ(f.out.substr(0, 32), "Option -a requires an argument.\n");
    f = runToEnd(CLI, {"-t", "soon"}, true);
    EXPECT_EQ(f.code, 1);
    EXPECT_EQ(f.out, "Error: -t needs a whole number, not \"soon\"\n");
}

TEST_F(ConfigTools, ConfigReadAsksForAReadAndPrintsTheNoticesOfASecond)
{
    start();
    // The notices come from the test, so it knows when config-read listens.
    Publisher notices(5099);
    Process read(READ, {"5010", "5099"});
    ASSERT_TRUE(notices.subscribed(milliseconds(15000)));
    notices.send("vintor");
    read.drain(milliseconds(20000));
    ASSERT_TRUE(read.wait(milliseconds(2000)));
    EXPECT_EQ(read.exitCode(), 0);
    EXPECT_EQ(read.output(), "To go into daemonmode use:\n" + READ +
                                 " 5010 5099 -d\n\n"
                                 "Connecting to configurator server\n"
                                 "Sending request { \"read\": \"\" }..\n"
                                 "Received: " + answer(R"({ "read": "" })") + "\n"
                                 "Klaar \n\nWaiting for subscriber measages\nSubscriber received:vintor\n\nDone\n");
    EXPECT_EQ(requests().front(), R"({ "read": "" })");
}

// The service announces what its reload changed right behind the reply: the
// subscription must be in place before the request leaves.
TEST_F(ConfigTools, ConfigReadShowsTheNoticeOfItsOwnReadEveryTime)
{
    start();
    int missed = 0;
    for (int run = 0; run < 20; run++) {
        // Served "radar" now differs from the file, so the read announces it.
        answer(R"({"set":{"radar":{"sweepsize":")" + std::to_string(1000 + run) + R"("}}})");
        Finished f = runToEnd(READ, {"5010", "5011"});
        EXPECT_EQ(f.code, 0) << f.out;
        missed += count(f.out, "\nSubscriber received:radar\n") != 1;
    }
    EXPECT_EQ(missed, 0) << "runs without the notice, of 20";

    // A notice port where nothing listens delays the read a little and costs only the notices.
    auto begin = std::chrono::steady_clock::now();
    Finished f = runToEnd(READ, {"5010", "5098"});
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
    EXPECT_EQ(f.code, 0);
    EXPECT_NE(f.out.find("Klaar \n\nWaiting for subscriber measages\n\nDone\n"), std::string::npos) << f.out;
    EXPECT_EQ(requests().back(), R"({ "read": "" })");
}

TEST_F(ConfigTools, ConfigReadAsADaemonLeavesTheExchangeToItsChild)
{
    start();
    Finished f = runToEnd(READ, {"5010", "5011", "-d"});
    EXPECT_EQ(f.code, 0);
    EXPECT_EQ(f.out.find("Going into daemon mode\n"), 0u) << f.out;
    EXPECT_NE(f.out.find("Daemon started and parent closed ok\n"), std::string::npos);
    EXPECT_NE(f.out.find("Klaar \n"), std::string::npos);
    EXPECT_EQ(f.out.substr(f.out.size() - 6), "\nDone\n");
    EXPECT_EQ(requests().size(), 1u);
}

TEST(ConfigReadCommandLine, NeedsTwoPortsThatAreNumbers)
{
    Finished f = runToEnd(READ, {"5010"}, true);
    EXPECT_EQ(f.code, 1);
    EXPECT_EQ(f.out, "ERROR, No configurator portnumber\nUse: " + READ + " <configurator portnumber> <subscriberport>\n bv: " +
                         READ + " 5010 5011\n\n");
    f = runToEnd(READ, {"50x0", "5011"}, true);
    EXPECT_EQ(f.code, 1);
    EXPECT_EQ(f.out, "Error: wrong port number (50x0)\n");
}

} // namespace
