// Whether a text is well-formed UTF-8 without NUL: only such texts come back
// unchanged through the JSON writer, which replaces malformed bytes by U+FFFD.
#pragma once

#include <string>

inline bool isPlainUtf8(const std::string& text)
{
    static const unsigned long least[] = {0, 0x80, 0x800, 0x10000};
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra;
        if (c == 0)
            return false;
        else if (c < 0x80)
            extra = 0;
        else if ((c & 0xE0) == 0xC0)
            extra = 1;
        else if ((c & 0xF0) == 0xE0)
            extra = 2;
        else if ((c & 0xF8) == 0xF0)
            extra = 3;
        else
            return false;
        if (i + extra >= text.size() && extra > 0)
            return false;
        unsigned long cp = c & (0x7F >> extra);
        for (size_t k = 1; k <= extra; k++) {
            const unsigned char d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}
