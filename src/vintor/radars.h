// The radars stage: one radar process per active radar section, the list of
// radars in use, start/stop/killall tasks from ring "RadarTasks", and a watch
// that ends the stage when any radar process ends (the supervisor then starts
// the stage again).
#pragma once

#include <string>

#include "children.h"
#include "radar.h"
#include "records.h"

class ConfigFile;
class RadarClass;
class SharedMem;

struct RadarsSettings {
    long passMicros = 1000000;  // one pass of the watch loop
    RadarSettings radar;        // handed to every radar process
};

class RadarsClass {
public:
    explicit RadarsClass(ConfigFile* cf, const RadarsSettings& settings = RadarsSettings());
    ~RadarsClass();
    RadarsClass(const RadarsClass&) = delete;
    RadarsClass& operator=(const RadarsClass&) = delete;

    // Starts the radar process of a section; 0 in the manager, 1 when refused.
    int addRadar(std::string section);
    int removeRadar(RadarClass* radar);
    // Returns 0 once a radar process has ended (the others are then stopped).
    int process();

private:
    void writeRadarsList();
    ChildList::Entries::iterator stopEntry(ChildList::Entries::iterator it);

    ConfigFile* cf;
    int debug;
    RadarsSettings settings_;
    SharedMem* storage_ = nullptr;
    ChildList radars_;  // one radar process per entry, named by its section
};
