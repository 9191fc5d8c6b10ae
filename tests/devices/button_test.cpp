// The push button's press logic poll by poll, and its sysfs GPIO line.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

#include "gpio.h"
#include "gpiotree.h"
#include "harness.h"
#include "press.h"

namespace {

using button::Led;
using testsupport::TempDir;

// What a press of n polls and its release do, one entry per effect:
// "<poll>:<effect>", the release being poll n + 1.
std::string press(int polls)
{
    button::PressMachine m;
    std::string trace;
    auto note = [&](int poll, const char* what) { trace += std::to_string(poll) + ":" + what + " "; };
    for (int poll = 1; poll <= polls + 1; poll++) {
        button::Step s = m.poll(poll <= polls);
        if (s.fetchLed)
            note(poll, "fetch");
        if (s.runLongPressed)
            note(poll, "long-pressed");
        if (s.runShort)
            note(poll, "short");
        if (s.runLongReleased)
            note(poll, "long-released");
        if (s.request == Led::Zero)
            note(poll, "led0");
        if (s.request == Led::MinusOne)
            note(poll, "led-1");
        if (s.request == Led::Restore)
            note(poll, "restore");
        if (s.released) {
            EXPECT_EQ(s.releasedAfter, std::min(polls, 255));
        }
    }
    EXPECT_EQ(m.count(), 0);
    return trace;
}

TEST(ButtonPress, RunsTheCommandOfThePressLengthAndRestoresTheLedOtherwise)
{
    // The long-pressed command repeats on every poll from the 101st.
    auto longPressedFrom = [](int first, int last) {
        std::string t;
        for (int p = first; p <= last; p++)
            t += std::to_string(p) + ":long-pressed " + (p == 101 ? "101:led0 " : "");
        return t;
    };
    const struct {
        int polls;
        std::string trace;
    } rows[] = {
        {1, "1:fetch 1:led0 2:restore "},
        {3, "1:fetch 1:led0 4:restore "},
        {5, "1:fetch 1:led0 6:restore "},
        {6, "1:fetch 1:led0 7:short "},
        {10, "1:fetch 1:led0 11:short "},
        {19, "1:fetch 1:led0 20:short "},
        {20, "1:fetch 1:led0 21:restore "},
        {21, "1:fetch 1:led0 22:restore "},
        {22, "1:fetch 1:led0 22:led-1 23:restore "},
        {50, "1:fetch 1:led0 22:led-1 51:restore "},
        {100, "1:fetch 1:led0 22:led-1 101:restore "},
        {101, "1:fetch 1:led0 22:led-1 " + longPressedFrom(101, 101) + "102:long-released "},
        {150, "1:fetch 1:led0 22:led-1 " + longPressedFrom(101, 150) + "151:long-released "},
        {300, "1:fetch 1:led0 22:led-1 " + longPressedFrom(101, 300) + "301:long-released "},
    };
    for (const auto& row : rows)
        EXPECT_EQ(press(row.polls), row.trace) << row.polls << " polls";
}

TEST(SysfsGpio, ExportsAndConfiguresAnInputLine)
{
    TempDir d;
    testsupport::writeFile(d.file("export"), "");
    testsupport::writeFile(d.file("unexport"), "");
    // The line's directory appears a moment after the export, as the kernel makes
    // it: whole, with its files (made aside and renamed into place).
    std::thread kernel([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        mkdir(d.file("gpio7.new").c_str(), 0755);
        testsupport::writeFile(d.file("gpio7.new/direction"), "");
        testsupport::writeFile(d.file("gpio7.new/active_low"), "");
        rename(d.file("gpio7.new").c_str(), d.file("gpio7").c_str());
    });
    button::SysfsGpio gpio(d.path());
    EXPECT_TRUE(gpio.exportPin(7));
    EXPECT_TRUE(gpio.configureInput(7));
    kernel.join();
    EXPECT_EQ(testsupport::readFile(d.file("export")), "7");
    EXPECT_EQ(testsupport::readFile(d.file("gpio7/direction")), "in");
    EXPECT_EQ(testsupport::readFile(d.file("gpio7/active_low")), "1");
    EXPECT_TRUE(gpio.unexportPin(7));
    EXPECT_EQ(testsupport::readFile(d.file("unexport")), "7");

    // Levels one per read, from a FIFO; a line that is not there reads -1.
    gpiotree::Fifo value(d.file("gpio7/value"));
    ASSERT_TRUE(value.ok());
    value.put("110");
    EXPECT_EQ(gpio.readValue(7), '1');
    EXPECT_EQ(gpio.readValue(7), '1');
    EXPECT_EQ(gpio.readValue(7), '0');
    EXPECT_EQ(gpio.readValue(8), -1);
}

} // namespace
