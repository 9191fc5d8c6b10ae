// morse-led's code table, its LED and timing schedule, and its text file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "harness.h"
#include "memout.h"
#include "morse.h"

namespace {

using testsupport::TempDir;

TEST(Morse, CodesTextByteByByte)
{
    const struct {
        std::string text, code;
    } rows[] = {
        {"SOS", "...c---c...c"},
        {"sos", "...c---c...c"},
        {"a b", ".-cw-...c"},
        {"\n", " "},
        {"!", " "},
        {"\xC3\x84", "  "}, // a two-byte UTF-8 letter: two bytes without a code
        {"\xFF", " "},
        {"0123456789", "-----c.----c..---c...--c....-c.....c-....c--...c---..c----.c"},
        {",.=?", "--..--c.-.-.-c-...-c..--..c"},
        {"HELLO world", "....c.c.-..c.-..c---cw.--c---c.-.c.-..c-..c"},
        {"JKQXYZ", ".---c-.-c--.-c-..-c-.--c--..c"},
        {"", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(morse::encode(row.text), row.code) << row.text;
}

// The LED commands and pauses a blinker asks for, in order.
struct Recorder {
    std::vector<std::string> events;
    std::function<void()> onPause; // called at each 1 s pause
    morse::Io io()
    {
        morse::Io io;
        io.shell = [this](const std::string& c) { events.push_back(c); };
        io.sleep = [this](int64_t us) {
            events.push_back(std::to_string(us));
            if (us == 1000000 && onPause)
                onPause();
        };
        return io;
    }
};

TEST(Morse, BlinksInUnitsOf80Milliseconds)
{
    TempDir d;
    testsupport::writeFile(d.file("morselines.txt"), "ET");
    morse::Settings s;
    s.gpioBase = "/gpio";
    s.textPath = d.file("morselines.txt");
    MemoryOutput out;
    s.out = out.file;
    Recorder r;
    morse::Blinker blinker(s, r.io());
    blinker.repeatOnce();
    const std::string on = "echo 1 >  /gpio/gpio119/value", off = "echo 0 >  /gpio/gpio119/value";
    // Dot: 1 unit on, 1 off; end of character: 2 more; dash: 3 on, 1 off; then 1 s.
    const std::vector<std::string> expected = {on, "80000",  off, "80000",  "160000", "80000",
                                               on, "240000", off, "80000",  "160000", "80000", "1000000"};
    EXPECT_EQ(r.events, expected);
    EXPECT_EQ(out.text(), "ET\n.c-c\nValue:0 counter:0 status:0\n");

    // A word space is 6 units and 1 more; a character without code the same.
    r.events.clear();
    testsupport::writeFile(d.file("morselines.txt"), " !");
    blinker.repeatOnce();
    EXPECT_EQ(r.events, (std::vector<std::string>{"480000", "80000", "480000", "80000", "1000000"}));
}

TEST(Morse, FollowsTheTextFileAndKeepsTheLastText)
{
    TempDir d;
    morse::Settings s;
    s.textPath = d.file("morselines.txt");
    s.quiet = true;
    s.repetitions = 5;
    MemoryOutput out;
    s.out = out.file;
    Recorder r;
    int pauses = 0;
    r.onPause = [&] {
        if (++pauses == 1)
            testsupport::writeFile(s.textPath, "E\n");
        else if (pauses == 2)
            testsupport::writeFile(s.textPath, "T");
        else if (pauses == 3)
            remove(s.textPath.c_str());
        else
            mkdir(s.textPath.c_str(), 0755); // opens, but fails to read
    };
    morse::Blinker blinker(s, r.io());
    blinker.run();
    EXPECT_EQ(out.text(), std::string(morse::START_TEXT) + "\n" + morse::encode(morse::START_TEXT) +
                              "\nE\n\n.c \nT\n-c\nT\n-c\nT\n-c\n");
}

TEST(Morse, ExportsTheLedAsAnOutput)
{
    TempDir d;
    ASSERT_EQ(mkdir(d.file("gpio119").c_str(), 0755), 0);
    morse::Settings s;
    s.gpioBase = d.path();
    MemoryOutput out;
    s.out = out.file;
    morse::Blinker blinker(s, morse::systemIo());
    blinker.setUp();
    EXPECT_EQ(testsupport::readFile(d.file("export")), "119\n");
    EXPECT_EQ(testsupport::readFile(d.file("gpio119/direction")), "out\n");
    EXPECT_EQ(testsupport::readFile(d.file("gpio119/active_low")), "0\n");
    EXPECT_EQ(out.text(), "echo \"119\" > " + d.path() + "/export\necho \"out\" > " + d.path() +
                              "/gpio119/direction\necho \"0\" > " + d.path() + "/gpio119/active_low\n");
}

} // namespace
