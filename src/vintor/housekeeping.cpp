#include "housekeeping.h"


HousekeepingClass::HousekeepingClass(ConfigFile* lcf) : cf(lcf) {}

int HousekeepingClass::process() { return 0; }
