// What the radar chain makes of the bundled recording with the default
// configuration, byte for byte: every fft, peak and h record (as a digest) and
// every vintor and heave line. A deliberate change of the output regenerates
// recording.expected with scripts/golden.sh.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "harness.h"

using namespace testsupport;

namespace {

std::unique_ptr<Process> stationService(const TempDir& dir, ConfigServiceOptions* o) {
    writeFile(dir.file("station.json"), readFile(sourcePath("config/station.json")));
    o->config = dir.file("station.json");
    return startConfigServiceOnFreePorts(o);
}

}  // namespace

// A run that makes nothing must not pass for one that made the golden file.
TEST(Golden, ARecordingThatGivesNoSweepPairEndsTheReplayWithAMessage) {
    TempDir dir;
    ConfigServiceOptions o;
    auto service = stationService(dir, &o);
    ASSERT_TRUE(service);
    writeFile(dir.file("garbage"), "not a sweep\n\x01\x02 neither\n");
    writeFile(dir.file("empty"), "");
    const struct {
        std::string recording, message;
    } cases[] = {
        {dir.file("missing"), "cannot open the recording " + dir.file("missing") + ": No such file or directory"},
        {dir.file("garbage"), "no sweep pair in " + dir.file("garbage")},
        {dir.file("empty"), "no sweep pair in " + dir.file("empty")},
    };
    for (const auto& c : cases) {
        Process::Options merged;
        merged.mergeStderr = true;
        Process replay(CHAIN_REPLAY_BIN, {std::to_string(o.repPort), c.recording, dir.file("output")}, merged);
        ASSERT_TRUE(replay.wait(milliseconds(60000))) << c.recording;
        EXPECT_EQ(replay.exitCode(), 1) << c.recording;
        replay.drain(milliseconds(1000));
        EXPECT_NE(replay.output().find("chain-replay: " + c.message), std::string::npos) << replay.output();
    }
}

TEST(Golden, TheRecordingGivesExactlyTheExpectedRecordsAndLines) {
    TempDir dir;
    ConfigServiceOptions o;
    auto service = stationService(dir, &o);
    ASSERT_TRUE(service);

    Process replay(CHAIN_REPLAY_BIN,
                   {std::to_string(o.repPort), sourcePath("data/recording.txt"), dir.file("output")});
    ASSERT_TRUE(replay.wait(milliseconds(60000)));
    ASSERT_EQ(replay.exitCode(), 0);

    const std::string expected = readFile(sourcePath("tests/golden/recording.expected"));
    const std::string got = readFile(dir.file("output"));
    ASSERT_FALSE(expected.empty());
    if (got == expected) return;
    std::istringstream e(expected), g(got);
    std::string el, gl;
    for (int line = 1;; ++line) {
        const bool moreE = static_cast<bool>(std::getline(e, el));
        const bool moreG = static_cast<bool>(std::getline(g, gl));
        if (!moreE && !moreG) break;
        ASSERT_EQ(gl, el) << "first difference at line " << line
                          << " (after a deliberate change: bash scripts/golden.sh)";
    }
    FAIL() << "the output differs from tests/golden/recording.expected in its line ends";
}
