// The table of the front-ends this program has: which class serves a brand.
#pragma once

#include <string>

#include "frontend.h"

// One row per front-end this program has.
struct FrontEndRow {
    int brand;
    RadarFrontEnd* (*make)(ConfigFile* cf, const std::string& section, double timeout);
};

// A factory for a front-end class built as T(cf, section, timeout).
template <class T>
RadarFrontEnd* makeFrontEnd(ConfigFile* cf, const std::string& section, double timeout) {
    return new T(cf, section, timeout);
}

// The front-end of a brand, or nullptr when this program has none for it.
RadarFrontEnd* newFrontEnd(int brand, ConfigFile* cf, const std::string& section, double timeout);
