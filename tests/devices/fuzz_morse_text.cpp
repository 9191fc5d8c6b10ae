// morse-led's text file, any bytes: the code holds only Morse symbols and every
// byte gives exactly its own code.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "morse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string code = morse::encode(text);
    if (code.find_first_not_of(".-cw ") != std::string::npos)
        abort();
    size_t at = 0;
    for (unsigned char c : text) {
        const std::string one = morse::morseCode(c);
        if (code.compare(at, one.size(), one) != 0)
            abort();
        at += one.size();
    }
    if (at != code.size())
        abort();
    return 0;
}
