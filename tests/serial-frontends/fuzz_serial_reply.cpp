// Replies of the serial radar as they come off the line: the frame parser over
// a buffer of a size the input picks, and CAN answers assembled from pieces.
// Nothing may be written past a buffer, and every stored text is NUL-ended.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "comm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // First byte: the buffer (a small one, or the sweep field of the record).
    const int capacity = data[0] == 0xFF ? SWEEP_CAPACITY : 1 + data[0] % 64;
    std::vector<char> buffer(static_cast<size_t>(capacity));
    ReplyParser parser(buffer.data(), capacity);
    for (size_t i = 1; i < size; ++i) parser.feed(data[i]);
    parser.terminate();
    if (parser.stored() > capacity - 1 || buffer[size_t(parser.stored())] != 0) abort();
    if (parser.complete() && parser.count() < parser.announced()) abort();

    // The rest as answer pieces, each preceded by its length.
    std::vector<char> answer(size_t(1 + data[1] % 32));
    CanAnswer assembled(answer.data(), int(answer.size()));
    for (size_t at = 2; at < size;) {
        const size_t n = std::min(size_t(data[at]) % 16, size - at - 1);
        const char* piece = reinterpret_cast<const char*>(data + at + 1);
        canPieceCounter(piece, int(n));
        canPiecesAnnounced(piece, int(n));
        assembled.append(piece, int(n));
        at += 1 + n;
    }
    if (assembled.length > int(answer.size()) - 1 || answer[size_t(assembled.length)] != 0) abort();
    return 0;
}
