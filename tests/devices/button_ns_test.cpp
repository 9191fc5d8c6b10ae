// button-handler as a whole program on its fixed paths and ports: the button
// is GPIO 17 of a private /sys/class whose value file is a FIFO of levels, one
// per poll; the configuration stand-in keeps the LED value and logs requests.
#include <gtest/gtest.h>

#include <thread>

#include "gpiotree.h"
#include "harness.h"

namespace {

using testsupport::milliseconds;
using testsupport::Process;
using testsupport::TempDir;

const std::string BUTTON_REQUEST =
    R"({"get":{"button":{"gpio":"","short":"","long-pressed":"","long-released":""}}})";
const std::string LED_REQUEST = R"({"getmem":{"status":{"led":""}}})";
const std::string LED_0 = R"({"setmem":{"status": {"led":"0"}}})";
const std::string LED_MINUS_1 = R"({"setmem":{"status": {"led":"-1"}}})";

// A fresh tree: export files and GPIO 17 with its value FIFO.
struct Tree {
    std::unique_ptr<gpiotree::Fifo> value;

    explicit Tree(bool withExport = true)
    {
        EXPECT_EQ(system(("rm -rf " + gpiotree::ROOT + "/*").c_str()), 0);
        if (withExport) {
            testsupport::writeFile(gpiotree::ROOT + "/export", "");
            testsupport::writeFile(gpiotree::ROOT + "/unexport", "");
        }
        mkdir(gpiotree::line(17).c_str(), 0755);
        testsupport::writeFile(gpiotree::line(17) + "/direction", "");
        testsupport::writeFile(gpiotree::line(17) + "/active_low", "");
        value.reset(new gpiotree::Fifo(gpiotree::line(17) + "/value"));
    }
};

struct Service {
    TempDir d;
    testsupport::ConfigServiceOptions cs;
    std::unique_ptr<Process> process;

    explicit Service(const std::string& button, const std::string& memory = "{}")
    {
        cs.config = d.file("config.json");
        cs.memory = d.file("memory.json");
        cs.requestLog = d.file("requests");
        testsupport::writeFile(cs.config, R"({"button":)" + button + "}");
        testsupport::writeFile(cs.memory, memory);
        process = testsupport::startConfigService(cs);
    }
    std::vector<std::string> requests() const { return testsupport::readRequestLog(cs.requestLog); }
    // Waits until count requests came; false at the deadline.
    bool awaitRequests(size_t count, milliseconds timeout) const
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (requests().size() < count) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(milliseconds(50));
        }
        return true;
    }
    void set(const std::string& changes) const
    {
        std::string reply;
        EXPECT_TRUE(testsupport::request("tcp://127.0.0.1:5010", R"({"set":{"button":)" + changes + "}}", &reply));
    }
};

std::string repeat(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; i++)
        out += s;
    return out;
}

TEST(ButtonHandlerProgram, RunsThePressCommandsAndDrivesTheLed)
{
    ASSERT_TRUE(gpiotree::isPrivate()) << "needs ns-run --sysfs-gpio";
    Tree tree;
    ASSERT_TRUE(tree.value->ok());
    Service s(R"({"gpio":"17","short":"echo short >> /tmp/marks","long-pressed":"echo long-pressed >> /tmp/marks",)"
              R"("long-released":"echo long-released >> /tmp/marks"})",
              R"({"status":{"led":"a\"b"}})");
    ASSERT_TRUE(s.process);
    // A press of 3 polls, one of 10 and a hold of 110, each released for 3 polls.
    tree.value->put("000" + repeat("1", 3) + "000" + repeat("1", 10) + "000" + repeat("1", 110) + "000");
    Process handler(BUTTON_HANDLER_BIN, {});

    const std::vector<std::string> expected = {
        BUTTON_REQUEST,
        // 3 polls: LED 0, then the saved text back, written as JSON.
        LED_REQUEST, LED_0, R"({"setmem":{"status": {"led":"a\"b"}}})",
        // 10 polls: LED 0 and the short command.
        LED_REQUEST, LED_0,
        // 110 polls: 0, -1 at the 22nd, 0 at the 101st.
        LED_REQUEST, LED_0, LED_MINUS_1, LED_0,
    };
    ASSERT_TRUE(s.awaitRequests(expected.size(), milliseconds(40000)));
    // The last release comes 10 polls after the last LED request; its count
    // is printed once its command has run, however long the shell took.
    ASSERT_TRUE(handler.waitForLine("pressCounter: 110", milliseconds(10000))) << handler.output();
    EXPECT_EQ(s.requests(), expected);
    EXPECT_EQ(testsupport::readFile("/tmp/marks"), "short\n" + repeat("long-pressed\n", 10) + "long-released\n");
    EXPECT_EQ(testsupport::readFile(gpiotree::ROOT + "/export"), "17");
    EXPECT_EQ(testsupport::readFile(gpiotree::line(17) + "/direction"), "in");
    EXPECT_EQ(testsupport::readFile(gpiotree::line(17) + "/active_low"), "1");
    const std::string& out = handler.output();
    EXPECT_NE(out.find("Pressed\nOriginal LED status: a\"b\n"), std::string::npos);
    EXPECT_NE(out.find("ShortPress:\necho short >> /tmp/marks\n"), std::string::npos);
    EXPECT_NE(out.find("pressCounter: 110\n"), std::string::npos);

    // A notice with the same settings changes nothing; changed ones end the program.
    s.set(R"({"comment":"not read"})");
    tree.value->put(repeat("0", 50));
    EXPECT_TRUE(handler.waitForLine("Same do nothing ", milliseconds(10000)));
    EXPECT_TRUE(handler.running());
    s.set(R"({"short":"echo other"})");
    tree.value->put(repeat("0", 50));
    EXPECT_TRUE(handler.waitForLine("Different stop program ", milliseconds(10000)));
    ASSERT_TRUE(handler.wait(milliseconds(5000)));
    EXPECT_EQ(handler.exitCode(), 0);
    EXPECT_EQ(testsupport::readFile(gpiotree::ROOT + "/unexport"), "17");
}

TEST(ButtonHandlerProgram, EndsWithStatus1WithoutAUsableLine)
{
    ASSERT_TRUE(gpiotree::isPrivate()) << "needs ns-run --sysfs-gpio";
    const struct {
        std::string button;
        bool exportFile;
        std::string message;
    } rows[] = {
        {R"({"short":"true"})", true, "No valid GPIO number in \"button\", \"gpio\": \"\""},
        {R"({"gpio":"seventeen"})", true, "No valid GPIO number in \"button\", \"gpio\": \"seventeen\""},
        {R"({"gpio":"-3"})", true, "No valid GPIO number in \"button\", \"gpio\": \"-3\""},
        {R"({"gpio":"17"})", false, "Unable to export GPIO pin"},
        {R"({"gpio":"18"})", true, "Unable to open direction handle"},
    };
    for (const auto& row : rows) {
        Tree tree(row.exportFile);
        Service s(row.button);
        ASSERT_TRUE(s.process);
        Process handler(BUTTON_HANDLER_BIN, {"-q"});
        EXPECT_TRUE(handler.waitForLine(row.message, milliseconds(10000))) << row.button << "\n" << handler.output();
        ASSERT_TRUE(handler.wait(milliseconds(5000)));
        EXPECT_EQ(handler.exitCode(), 1) << row.button;
        if (!row.exportFile) {
            EXPECT_EQ(access((gpiotree::ROOT + "/export").c_str(), F_OK), -1) << "no sysfs file is ever made";
        }
    }
}

} // namespace
