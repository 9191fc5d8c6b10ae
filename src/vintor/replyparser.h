// The serial radar's frame, both ways:
//   01 command ~command address length-high length-low payload checksum
// built for a request and taken apart for a reply.
#pragma once

#include <cstdint>

// Request frames are built in a buffer of this size, so a payload has at most 193 bytes.
constexpr int FRAME_BUFFER_SIZE = 200;
constexpr int FRAME_MAX_PAYLOAD = FRAME_BUFFER_SIZE - 7;

// Writes the frame of one request into frame (FRAME_BUFFER_SIZE bytes); a
// longer payload is cut to FRAME_MAX_PAYLOAD. Returns the frame's size.
int buildFrame(int radId, int command, const char* data, int length, uint8_t* frame);

// Takes reply frames apart byte by byte: skips to a start byte, checks the
// command's complement, takes the announced length and stores the payload.
// The address and checksum are not examined. Bytes that follow a whole payload
// are stored behind it (the checksum first); nothing goes past capacity - 1,
// so the stored bytes can always be ended with a NUL.
class ReplyParser {
public:
    ReplyParser(char* buffer, int capacity) : buffer_(buffer), capacity_(capacity) {}
    // One byte; true once the announced payload is whole.
    bool feed(uint8_t byte);
    int state() const { return state_; }
    bool headerSeen() const { return state_ >= 6; }
    int announced() const { return headerSeen() ? length_ : 0; }
    int count() const { return count_; }
    bool complete() const { return complete_; }
    // Bytes in the buffer; a NUL follows them after terminate().
    int stored() const { return count_ < capacity_ - 1 ? count_ : capacity_ - 1; }
    void terminate() { if (capacity_ > 0) buffer_[stored()] = 0; }

private:
    char* buffer_;
    int capacity_;
    int state_ = 0;
    uint8_t header_[6] = {};
    int length_ = 0;
    int count_ = 0;
    bool complete_ = false;
};
