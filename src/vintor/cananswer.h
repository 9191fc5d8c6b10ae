// The CAN pieces tunnelled in the serial radar's frames: the identifier of a
// command, the header of an answer piece, and an answer put together from them.
#pragma once

// CAN identifier of a command number: bit 6 moves to bit 10.
int canIdentifier(int command);
// Piece counter of an answer piece (payload bytes 2-3, low first); -1 for a piece under 4 bytes.
int canPieceCounter(const char* payload, int length);
// Pieces announced by the first piece of an answer (bytes 4-5, low first); 0
// when it has 4 bytes or fewer: nothing pending.
int canPiecesAnnounced(const char* payload, int length);

// An answer put together from the data of its pieces (payload bytes 4 on),
// cut at capacity - 1 bytes and always ended by a NUL.
struct CanAnswer {
    char* data;
    int capacity;
    int length = 0;
    CanAnswer(char* buffer, int cap) : data(buffer), capacity(cap) { if (cap > 0) data[0] = 0; }
    void append(const char* payload, int n);
    bool full() const { return length >= capacity - 1; }
};
