// morse-led as a whole program on its fixed paths: GPIO 119 under a private
// /sys/class whose value file is a FIFO recording every LED change, and
// /tmp/morselines.txt in the namespace's own /tmp.
#include <gtest/gtest.h>

#include "gpiotree.h"
#include "harness.h"

namespace {

using namespace std::chrono;
using testsupport::Process;

TEST(MorseLedProgram, BlinksTheTextFileOnGpio119)
{
    ASSERT_TRUE(gpiotree::isPrivate()) << "needs ns-run --sysfs-gpio";
    ASSERT_EQ(mkdir(gpiotree::line(119).c_str(), 0755), 0);
    gpiotree::Fifo value(gpiotree::line(119) + "/value");
    ASSERT_TRUE(value.ok());
    testsupport::writeFile("/tmp/morselines.txt", "ET");

    Process blinker(MORSE_LED_BIN, {"-q"});
    // Per repetition: on, off (dot), on, off (dash); then a pause of 1 s and more.
    std::vector<std::string> levels;
    std::vector<steady_clock::time_point> times;
    for (int i = 0; i < 8; i++) {
        std::string level;
        steady_clock::time_point when;
        ASSERT_TRUE(value.takeLine(&level, &when, milliseconds(10000))) << "change " << i;
        levels.push_back(level);
        times.push_back(when);
    }
    EXPECT_EQ(levels, (std::vector<std::string>{"1", "0", "1", "0", "1", "0", "1", "0"}));
    EXPECT_GT(times[4] - times[3], milliseconds(700)) << "the pause between repetitions";

    EXPECT_EQ(testsupport::readFile(gpiotree::ROOT + "/export"), "119\n");
    EXPECT_EQ(testsupport::readFile(gpiotree::line(119) + "/direction"), "out\n");
    EXPECT_EQ(testsupport::readFile(gpiotree::line(119) + "/active_low"), "0\n");
    blinker.drain(milliseconds(100));
    EXPECT_EQ(blinker.output().substr(0, 9), "ET\n.c-c\nE") << "text and code printed also when quiet";
}

} // namespace
