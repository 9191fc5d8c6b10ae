// Interrupt handling of the services that run a worker loop: the handler only
// asks the loop to finish.
#pragma once

#include <csignal>

// 0 keep running, 1 stop requested; set to 0 before installing signalHandler.
extern volatile sig_atomic_t stop;

// Prints "Interrupt signal (<n>) received." on standard output and sets stop.
void signalHandler(int signum);
