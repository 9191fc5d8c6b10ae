// Any message of the board reader's feed, with any configured sweep size (the
// first four bytes): only a whole record whose sizes are within the board's
// limit is taken, and then byte for byte; nothing else is written.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tarnixclass.h"

namespace {
void check(bool ok) {
    if (!ok) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    int32_t configured;
    memcpy(&configured, data, 4);
    const uint8_t* message = data + 4;
    const size_t length = size - 4;

    tarnix_st record;
    memset(&record, 0xA5, sizeof record);
    tarnix_st untouched;
    memcpy(&untouched, &record, sizeof record);
    int tooLarge = 0;
    const BoardMessage m = boardRecord(message, length, configured, &record, &tooLarge);
    if (length != sizeof(tarnix_st)) {
        check(m == BoardMessage::WrongSize);
    } else {
        int32_t own;
        memcpy(&own, message + offsetof(tarnix_st, sweepsize), 4);
        const bool fits = own <= MAX_BOARD_SWEEP && configured <= MAX_BOARD_SWEEP;
        check((m == BoardMessage::Whole) == fits);
        if (m == BoardMessage::TooLarge) check(tooLarge == (own > MAX_BOARD_SWEEP ? own : configured));
        if (m == BoardMessage::Whole) check(memcmp(&record, message, sizeof record) == 0);
    }
    if (m != BoardMessage::Whole) check(memcmp(&record, &untouched, sizeof record) == 0);
    return 0;
}
