// The housekeeping stage: it has no work, so it ends at once and is restarted.
#pragma once

class ConfigFile;

class HousekeepingClass {
public:
    explicit HousekeepingClass(ConfigFile* cf);
    int process();

    ConfigFile* cf;
};
