// Entry points of the stages that the supervisor forks.
//
// Contract:
// - The supervisor calls an entry in a freshly forked child, after it has set
//   the child's process title, the plain fatal-signal handler and (inherited)
//   the SIGUSR1 handler that ends the process with status 0. The shared-memory
//   globals of sharedmem.h are mapped; `cf` holds the configuration read by the
//   supervisor (this process's own copy).
// - An entry builds its stage object with `cf` and runs its loop, which should
//   never return. If it returns, the supervisor's child code ends the process
//   with the stage's failure message (perror, status 1) and the supervisor
//   restarts the stage on a later pass.
// - An entry never touches the supervisor's ZeroMQ context or sockets; it makes
//   its own.
// - Each stage defines its entry with normal (strong) linkage in its own unit
//   (fft.cpp defines fftStage, and so on). Until a stage is built, the weak
//   placeholder in stages_default.cpp prints one line and returns. The program
//   compiles every unit itself, so a built stage always wins there; code that
//   links the vintorlib archive (tests) should use the stage classes, because
//   from an archive the linker may settle for a placeholder.
#pragma once

class ConfigFile;

void udpStage(ConfigFile* cf);            // UDP(cf), setReceiveParameters("0.0.0.0", 3001), listen()
void radarsStage(ConfigFile* cf);         // RadarsClass(cf).process()
void fftStage(ConfigFile* cf);            // FFTClass(cf).generateFFT()
void peakStage(ConfigFile* cf);           // PeakClass(cf).generatePeak()
void subscriptionsStage(ConfigFile* cf);  // SubscriptionsClass(cf).process()
void housekeepingStage(ConfigFile* cf);   // HousekeepingClass(cf).process()
void heaveStage(ConfigFile* cf);          // HClass(cf).process()
void telnetStage(ConfigFile* cf);         // TelnetClass(cf).process()
