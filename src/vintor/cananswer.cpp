#include "cananswer.h"

#include <cstdint>

int canIdentifier(int command) { return (command & 0x3F) | ((command & 0x40) << 4); }

int canPieceCounter(const char* payload, int length) {
    if (length < 4) return -1;
    return uint8_t(payload[2]) + 256 * uint8_t(payload[3]);
}

int canPiecesAnnounced(const char* payload, int length) {
    if (length <= 4) return 0;
    const int high = length > 5 ? uint8_t(payload[5]) : 0;
    return uint8_t(payload[4]) + 256 * high;
}

void CanAnswer::append(const char* payload, int n) {
    for (int i = 4; i < n && !full(); ++i) data[length++] = payload[i];
    if (capacity > 0) data[length] = 0;
}
