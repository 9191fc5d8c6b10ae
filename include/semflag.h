// System V semaphores used as one-or-zero flags between processes: a writer
// sets the flag when it has stored something, the reader waits for it.
// Each call returns -1 with errno set on failure.
#pragma once

int getSemaphore(int key);                 // one-semaphore set, created on first use
int setSemaphore(int semid, int value);    // SETVAL: a post sets 1, it does not add
int getSemaphoreValue(int semid);          // GETVAL
int waitSemaphore(int semid);              // blocks until 1, takes it back to 0
