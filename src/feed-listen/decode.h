// Decoding of feed messages: the four fixed-layout records field by field,
// anything else as text. The decoder is chosen by module and publisher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// 32-bit hash of a text, characters taken from the last to the first.
uint32_t publisherHash(const char* text);

enum class FeedKind { Heave, Peak, Fft, Tarnix, Text };

// The decoder of "<module>-<publisher>": the radar program's "h", "peak" and
// "fft" feeds, the board reader's "rawdata-pub", else text.
FeedKind feedKind(const char* module, const char* publisher);

// Bytes taken of one message: the record's size, or the text buffer's.
size_t messageCapacity(FeedKind kind);
constexpr size_t TEXT_CAPACITY = 100000;

// Prints one message: data holds min(size, messageCapacity(kind)) bytes of a
// message that was size bytes long. A record of another size is reported, not
// decoded; a text ends at its first NUL and after at most 99999 bytes.
void printMessage(FeedKind kind, const char* data, size_t size, FILE* out);
