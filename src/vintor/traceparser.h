// The values of a sweep in the radar module's answer: one decimal value a
// line, the sweep closed by "OK".
#pragma once

#include <cstdint>

// The line of the sweep being read.
constexpr int SIVERS_TRACE_LINE = 4096;

// The values of one sweep out of the module's answer, byte by byte.
class TraceParser {
public:
    enum Event { MORE, VALUE, DONE };
    TraceParser(int32_t* values, int capacity) : values_(values), capacity_(capacity) {}
    // VALUE when a line end gave a value (line() and lastValue() tell which),
    // DONE at the "OK" that closes the sweep.
    Event feed(char byte);
    // Values read; at most the capacity, further ones are dropped.
    int count() const { return count_; }
    bool complete() const { return complete_; }
    const char* line() const { return line_; }
    int32_t lastValue() const { return last_; }

private:
    int32_t* values_;
    int capacity_;
    int count_ = 0;
    bool complete_ = false;
    bool clear_ = false;   // the line was read: start the next one
    char prev_ = 0;        // the line's previous byte
    int used_ = 0;
    int32_t last_ = 0;
    char line_[SIVERS_TRACE_LINE] = {};
};
