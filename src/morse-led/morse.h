// morse-led: blinks a status text in Morse code on the LED at GPIO 119.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace morse {

// Code of one byte: dots, dashes and 'c' ending the character; "w" for a
// blank, " " for a byte without a code. Text is coded byte by byte, so a
// two-byte UTF-8 letter gives two " ".
const char* morseCode(unsigned char character);
std::string encode(const std::string& text);

struct Settings {
    bool quiet = false;
    std::string gpioBase = "/sys/class/gpio";
    std::string textPath = "/tmp/morselines.txt";
    long repetitions = -1; // -1: for ever
    int64_t unitUs = 80000;
    int64_t pauseUs = 1000000;
    FILE* out = stdout;
};

// The LED and the clock, replaceable so the timing can be followed exactly.
struct Io {
    // Runs one shell command.
    std::function<void(const std::string& command)> shell;
    std::function<void(int64_t us)> sleep;
};
// system() and a sleep that resumes after signals.
Io systemIo();

const char* const START_TEXT = "Started, reading morselines.txt";

class Blinker {
public:
    Blinker(const Settings& settings, Io io);

    // Exports GPIO 119 as an output.
    void setUp();
    // Reads the text file when it exists and blinks the text once.
    void repeatOnce();
    // setUp, then the repetitions.
    void run();

    const std::string& text() const { return text_; }

private:
    void led(const char* value);
    void shellEchoed(const std::string& command);

    Settings settings_;
    Io io_;
    std::string text_ = START_TEXT;
};

} // namespace morse
