// Locking the board's sweep clock to the wall clock: how a tick is judged and
// how the controller's correction becomes the board's rate word.
#pragma once

#include <cstdint>

// The measured tick interval `diff`, nudged by one millisecond towards the wanted
// phase `offset` within the period `speed`, and limited to +-10 periods.
double clockLockValue(int64_t diff, double phase, int speed, int64_t offset);

// Rate word plus the correction, truncated; held within 0 .. 0xFFFF.
uint16_t nextRateWord(uint16_t rate, double pidinc);
