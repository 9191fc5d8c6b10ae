// The real program on its fixed ports, files and watchdog path, inside the
// private namespace of tests/ns-run, against the configuration service stand-in.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "harness.h"

using namespace testsupport;

namespace {

const char* kConfig = R"({
  "general": {"speed": "1000"},
  "vintor": {"vintor": {"debug": "1"}, "module": {"housekeeping": "1", "fft": "0"}},
  "radar": {"active": "1"},
  "radar2": {"active": "0"},
  "radar3": {"active": "1"},
  "button": {"pin": "1"}
})";

off_t fileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

bool zeroFile(const std::string& path) {
    std::string content = readFile(path);
    return !content.empty() && content.find_first_not_of('\0') == std::string::npos;
}

std::unique_ptr<Process> startService(TempDir& dir) {
    return startConfigServiceWith(dir, kConfig);
}

}  // namespace

TEST(VintorProgram, CreatesTheFilesOfActiveRadarsRestartsHousekeepingAndEndsOnANotice) {
    TempDir dir;
    auto service = startService(dir);
    ASSERT_TRUE(service);
    // Left over from an earlier run: must come back zeroed at its own size.
    writeFile("/tmp/sharedmemRadar0", std::string(700000, '\xff'));

    Process::Options po;
    po.mergeStderr = true;
    Process vintor(VINTOR_BIN, {"5010", "5011"}, po);
    ASSERT_TRUE(vintor.waitForLine("Housekeeping pid=", milliseconds(5000)));
    ASSERT_TRUE(vintor.waitForLine("Housekeeping pid=", milliseconds(6000))) << vintor.output();
    const std::string& out = vintor.output();
    EXPECT_NE(out.find("DEF_sweepSpeed_DEF_baseFrequency 4.351610\nDEF_deltaF 512000000.000000\n"
                       "DEF_sampleFrequency 41666.664062\nDEF_SweepTime 0.012288\n"
                       "DEF_speedOfLight 299702528.000000\nDEF_sweepSpeed 41666666496.000000\n"),
              std::string::npos);
    EXPECT_NE(out.find("Error child Housekeeping class returned"), std::string::npos);
    EXPECT_EQ(readFile("/proc/" + std::to_string(vintor.pid()) + "/cmdline").rfind("vintorMain", 0), 0u);

    EXPECT_EQ(fileSize("/tmp/sharedmem"), 965968);
    EXPECT_EQ(fileSize("/tmp/sharedmemRadar0"), 604840);
    EXPECT_EQ(fileSize("/tmp/sharedmemRadar1"), -1);
    EXPECT_EQ(fileSize("/tmp/sharedmemRadar2"), 604840);
    EXPECT_TRUE(zeroFile("/tmp/sharedmemRadar0"));
    EXPECT_TRUE(zeroFile("/tmp/sharedmemRadar2"));
    EXPECT_GE(fileSize("/opt/kestrom/tmp/watchdogvintor"), 0) << "watchdog touched on the first pass";

    // A notice on another topic changes nothing.
    std::string reply;
    ASSERT_TRUE(request("tcp://127.0.0.1:5010", "{\"set\":{\"button\":{\"pin\":\"2\"}}}", &reply));
    std::this_thread::sleep_for(milliseconds(1300));
    EXPECT_TRUE(vintor.running());

    // Any notice under "radar" ends the tree; repeat in case the subscription is late.
    bool ended = false;
    for (int i = 0; i < 10 && !ended; ++i) {
        std::string change = "{\"set\":{\"radar2\":{\"probe\":\"" + std::to_string(i) + "\"}}}";
        ASSERT_TRUE(request("tcp://127.0.0.1:5010", change, &reply));
        ended = vintor.wait(milliseconds(1500));
    }
    ASSERT_TRUE(ended);
    EXPECT_EQ(vintor.exitCode(), 0);
    vintor.drain(milliseconds(100));
    EXPECT_NE(vintor.output().find("\npid:" + std::to_string(vintor.pid()) + " received SIGUSR1\n"),
              std::string::npos);
}

TEST(VintorProgram, RefusesASymlinkPlantedAtTheSharedMemoryPath) {
    TempDir dir;
    auto service = startService(dir);
    ASSERT_TRUE(service);
    unlink("/tmp/sharedmem");
    writeFile("/tmp/victim", "precious");
    ASSERT_EQ(symlink("/tmp/victim", "/tmp/sharedmem"), 0);

    Process::Options po;
    po.mergeStderr = true;
    Process vintor(VINTOR_BIN, {"5010", "5011"}, po);
    ASSERT_TRUE(vintor.wait(milliseconds(5000)));
    vintor.drain(milliseconds(100));
    EXPECT_EQ(vintor.exitCode(), 1);
    EXPECT_NE(vintor.output().find("sharedmem: "), std::string::npos) << vintor.output();
    EXPECT_EQ(readFile("/tmp/victim"), "precious");
    unlink("/tmp/sharedmem");
}
