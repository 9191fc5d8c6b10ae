// Bench test of the radar board: one 'A' request, the first answer dumped as words.
#pragma once

// Waits without limit for the port to become readable, then reads once and dumps
// the words; the number of bytes read, or -1 when the port cannot be read.
int readOnce(int fd);

// The whole tool; its exit status (0 answered, 1 usage or open failure, 255 no answer).
int runBoardSerialTest(int argc, char** argv);
