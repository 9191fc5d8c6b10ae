// The supervisor of the radar program: reads the configuration, creates the
// shared-memory files, forks the stages that section "module" switches on,
// restarts ended stages through ring "tasks", carries out the task texts and
// touches the watchdog file.
#pragma once

#include <string>
#include <vector>

class ConfigFile;
class SharedMem;

// One stage the supervisor can start.
struct StageRow {
    const char* key;                // module key; also the name in the child list
    const char* task;               // the start task, "start " and the key
    const char* title;              // process title of the stage
    void (*entry)(ConfigFile* cf);  // builds the stage and runs it; nullptr: not built yet
    const char* failure;            // perror text when the entry returns
    const char* startLine;          // debug line of the child before it builds its object
    const char* pidLine;            // debug line of the supervisor, with the new pid
};
// In the order of checking and of starting.
using StageTable = std::vector<StageRow>;

// Where the supervisor keeps its files and how long it waits; the defaults are
// the system's, tests shorten them.
struct SupervisorSettings {
    std::string sharedDir = "/tmp";                       // sharedmem, sharedmemRadar0..2
    std::string watchdogFile = "/opt/kestrom/tmp/watchdogvintor";
    long passMicros = 1000000;                            // one pass of the loop
    long killallMicros = 1500000;                         // grace for the radar manager
    long resetMicros = 9500000;                           // pause before a reset restarts
};

// Queues the start task on ring "tasks" for every stage of the table that
// section "module" switches on.
int startProcesses(ConfigFile* cf, SharedMem* storage, const StageTable& stages);

// The whole program: `vintor <configport> <subscriptionport>`, supervising the
// stages of the table. Returns the exit status where the program ends by
// returning; fatal paths exit directly.
int supervisorMain(int argc, char** argv, const StageTable& stages,
                   const SupervisorSettings& settings = SupervisorSettings());
