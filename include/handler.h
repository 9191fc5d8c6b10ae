// Fatal-signal handler installed for SIGSEGV by every program before anything else.
#pragma once

// Writes "mainError: signal <sig>:" and up to 10 frames to stderr, then exits 1.
void handler(int sig);
