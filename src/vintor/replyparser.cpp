#include "replyparser.h"

#include <cstring>

int buildFrame(int radId, int command, const char* data, int length, uint8_t* frame) {
    if (length < 0) length = 0;
    if (length > FRAME_MAX_PAYLOAD) length = FRAME_MAX_PAYLOAD;
    frame[0] = 0x01;
    frame[1] = uint8_t(command);
    frame[2] = uint8_t(~command);
    frame[3] = uint8_t(radId);
    frame[4] = uint8_t(length >> 8);
    frame[5] = uint8_t(length);
    if (length > 0) std::memcpy(frame + 6, data, size_t(length));
    unsigned sum = 0;
    for (int i = 0; i < 6 + length; ++i) sum += frame[i];
    frame[6 + length] = uint8_t(sum);
    return length + 7;
}

bool ReplyParser::feed(uint8_t byte) {
    switch (state_) {
    case 0:
        if (byte == 0x01) {
            header_[0] = byte;
            state_ = 1;
        }
        return false;
    case 1:
    case 2:
    case 4:
        header_[state_++] = byte;
        return false;
    case 3:
        // The address byte is not kept; a wrong complement means this was no start byte.
        state_ = uint8_t(header_[0] + header_[1] + header_[2]) == 0 ? 4 : 0;
        return false;
    case 5:
        header_[5] = byte;
        length_ = header_[4] * 256 + header_[5];
        state_ = 6;
        return false;
    default:
        if (count_ < capacity_ - 1) buffer_[count_] = char(byte);
        ++count_;
        ++state_;
        if (!complete_ && count_ >= length_) {
            complete_ = true;
            return true;
        }
        return false;
    }
}
