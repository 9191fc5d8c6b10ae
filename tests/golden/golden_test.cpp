// What the radar chain makes of the bundled recording with the default
// configuration, byte for byte: every fft, peak and h record (as a digest) and
// every vintor and heave line. A deliberate change of the output regenerates
// recording.expected with scripts/golden.sh.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "harness.h"

using namespace testsupport;

TEST(Golden, TheRecordingGivesExactlyTheExpectedRecordsAndLines) {
    TempDir dir;
    writeFile(dir.file("station.json"), readFile(sourcePath("config/station.json")));
    ConfigServiceOptions o;
    o.config = dir.file("station.json");
    auto service = startConfigServiceOnFreePorts(&o);
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
