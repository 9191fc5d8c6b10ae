#include "traceparser.h"

#include <cerrno>
#include <cstdlib>

TraceParser::Event TraceParser::feed(char byte) {
    if (complete_) return DONE;
    if (clear_) {
        used_ = 0;
        prev_ = 0;
        line_[0] = 0;
        clear_ = false;
    }
    // A line too long for the buffer is cut; its value is still read from the start.
    if (used_ < SIVERS_TRACE_LINE - 1) {
        line_[used_++] = byte;
        line_[used_] = 0;
    }
    if (prev_ == 'O' && byte == 'K') {
        complete_ = true;
        return DONE;
    }
    prev_ = byte;
    if (byte != '\r') return MORE;
    if (used_ > 0 && line_[used_ - 1] == '\r') line_[used_ - 1] = 0;
    // The module's values are 32-bit; anything outside is cut to the range.
    errno = 0;
    long v = std::strtol(line_, nullptr, 10);
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    last_ = int32_t(v);
    if (count_ < capacity_) values_[count_++] = last_;
    clear_ = true;
    return VALUE;
}
