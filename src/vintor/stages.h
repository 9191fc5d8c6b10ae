// The stages of the radar program, as the supervisor's stage table.
//
// Contract of an entry:
// - The supervisor calls it in a freshly forked child, after it has set the
//   child's process title, the plain fatal-signal handler and (inherited) the
//   SIGUSR1 handler that ends the process with status 0. The shared-memory
//   globals of sharedmem.h are mapped; `cf` holds the configuration read by
//   the supervisor (this process's own copy).
// - It builds its stage object with `cf` and runs its loop, which should never
//   return. If it returns, the child ends with the row's failure message
//   (perror, status 1) and the supervisor restarts the stage on a later pass.
// - The supervisor holds no ZeroMQ context (its notice watcher does, in a
//   process of its own); a stage makes its own.
#pragma once

#include "supervisor.h"

// udp, radars, fft, peak, subscriptions, housekeeping, heave, telnet: the
// order of checking and of starting.
const StageTable& vintorStages();
