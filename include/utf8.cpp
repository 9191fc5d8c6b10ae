#include "utf8.h"

std::size_t utf8Length(const unsigned char* p, std::size_t n) {
    std::size_t len;
    unsigned int min;
    if (n == 0) return 0;
    if (p[0] >= 0xC2 && p[0] <= 0xDF) {
        len = 2;
        min = 0x80;
    } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
        len = 3;
        min = 0x800;
    } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
        len = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (len > n) return 0;
    unsigned int cp = p[0] & (0x7F >> len);
    for (std::size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

bool isUtf8(const char* text, std::size_t n) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i < n;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const std::size_t len = utf8Length(p + i, n - i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}
