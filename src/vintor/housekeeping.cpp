#include "housekeeping.h"

#include "stages.h"

HousekeepingClass::HousekeepingClass(ConfigFile* lcf) : cf(lcf) {}

int HousekeepingClass::process() { return 0; }

void housekeepingStage(ConfigFile* cf) {
    HousekeepingClass housekeeping(cf);
    housekeeping.process();
}
