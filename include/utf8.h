// Well-formed UTF-8: what a JSON text must be, and what the JSON writer passes
// through unchanged (it puts U+FFFD in place of anything else).
#pragma once

#include <cstddef>
#include <string>

// Length of the UTF-8 sequence of two or more bytes that starts at p (at most
// n bytes), 0 when it is not one: no stray continuation byte, no overlong
// form, no surrogate, nothing above U+10FFFF.
std::size_t utf8Length(const unsigned char* p, std::size_t n);

// Whether the whole text is well-formed UTF-8 (NUL bytes included).
bool isUtf8(const char* text, std::size_t n);
inline bool isUtf8(const std::string& text) { return isUtf8(text.data(), text.size()); }
