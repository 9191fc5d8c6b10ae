#include "morse.h"

#include "timer.h"
#include "wholefile.h"

#include <time.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace morse {

const char* morseCode(unsigned char character)
{
    static const char* const letters[26] = {
        ".-c",   "-...c", "-.-.c", "-..c", ".c",   "..-.c", "--.c", "....c", "..c",
        ".---c", "-.-c",  ".-..c", "--c",  "-.c",  "---c",  ".--.c", "--.-c", ".-.c",
        "...c",  "-c",    "..-c",  "...-c", ".--c", "-..-c", "-.--c", "--..c"};
    static const char* const digits[10] = {"-----c", ".----c", "..---c", "...--c", "....-c",
                                           ".....c", "-....c", "--...c", "---..c", "----.c"};
    const int upper = toupper(character);
    if (upper >= 'A' && upper <= 'Z')
        return letters[upper - 'A'];
    if (character >= '0' && character <= '9')
        return digits[character - '0'];
    switch (character) {
    case ',':
        return "--..--c";
    case '.':
        return ".-.-.-c";
    case '=':
        return "-...-c";
    case '?':
        return "..--..c";
    case ' ':
        return "w";
    default:
        return " ";
    }
}

std::string encode(const std::string& text)
{
    std::string code;
    for (char c : text)
        code += morseCode(static_cast<unsigned char>(c));
    return code;
}

Io systemIo()
{
    Io io;
    io.shell = [](const std::string& command) {
        if (system(command.c_str()) == -1)
            perror("system");
    };
    io.sleep = [](int64_t us) { sleepThroughSignals(us); };
    return io;
}

Blinker::Blinker(const Settings& settings, Io io) : settings_(settings), io_(std::move(io)) {}

void Blinker::shellEchoed(const std::string& command)
{
    if (!settings_.quiet) {
        fprintf(settings_.out, "%s\n", command.c_str());
        fflush(settings_.out);
    }
    io_.shell(command);
}

void Blinker::setUp()
{
    shellEchoed("echo \"119\" > " + settings_.gpioBase + "/export");
    shellEchoed("echo \"out\" > " + settings_.gpioBase + "/gpio119/direction");
    shellEchoed("echo \"0\" > " + settings_.gpioBase + "/gpio119/active_low");
}

void Blinker::led(const char* value)
{
    io_.shell(std::string("echo ") + value + " >  " + settings_.gpioBase + "/gpio119/value");
}

void Blinker::repeatOnce()
{
    // A file that is gone or fails to read keeps the text blinked before.
    std::string content;
    if (readWholeFile(settings_.textPath, &content))
        text_ = std::move(content);
    const std::string code = encode(text_);
    fprintf(settings_.out, "%s\n%s\n", text_.c_str(), code.c_str());
    fflush(settings_.out);
    const int64_t unit = settings_.unitUs;
    for (char symbol : code) {
        switch (symbol) {
        case '.':
        case '-':
            led("1");
            io_.sleep(symbol == '.' ? unit : 3 * unit);
            led("0");
            break;
        case 'c':
            io_.sleep(2 * unit);
            break;
        default:
            io_.sleep(6 * unit);
            break;
        }
        io_.sleep(unit);
    }
    io_.sleep(settings_.pauseUs);
    if (!settings_.quiet) {
        fprintf(settings_.out, "Value:%d counter:%d status:%d\n", 0, 0, 0);
        fflush(settings_.out);
    }
}

void Blinker::run()
{
    setUp();
    for (long i = 0; settings_.repetitions < 0 || i < settings_.repetitions; i++)
        repeatOnce();
}

} // namespace morse
