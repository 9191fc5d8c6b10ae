// The supervisor of the radar program: reads the configuration, creates the
// shared-memory files, forks the stages that section "module" switches on,
// restarts ended stages through ring "tasks", carries out the task texts and
// touches the watchdog file.
#pragma once

#include <string>

class ConfigFile;
class SharedMem;

// Where the supervisor keeps its files and how long it waits; the defaults are
// the system's, tests shorten them.
struct SupervisorSettings {
    std::string sharedDir = "/tmp";                       // sharedmem, sharedmemRadar0..2
    std::string watchdogFile = "/opt/kestrom/tmp/watchdogvintor";
    long passMicros = 1000000;                            // one pass of the loop
    long killallMicros = 1500000;                         // grace for the radar manager
    long resetMicros = 9500000;                           // pause before a reset restarts
};

// Queues "start <key>" on ring "tasks" for every stage that section "module" switches on.
int startProcesses(ConfigFile* cf, SharedMem* storage);

// The whole program: `vintor <configport> <subscriptionport>`. Returns the
// exit status where the program ends by returning; fatal paths exit directly.
int supervisorMain(int argc, char** argv, const SupervisorSettings& settings = SupervisorSettings());
