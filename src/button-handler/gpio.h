// A GPIO line through the kernel's sysfs interface (export, direction,
// active_low and value files under one base directory).
#pragma once

#include <string>

namespace button {

class SysfsGpio {
public:
    // directionWaitMs: how long the line's directory may take to appear after
    // the export.
    explicit SysfsGpio(std::string base = "/sys/class/gpio", int directionWaitMs = 1000);

    // false when the export file cannot be opened. A line already exported
    // (EBUSY) is taken as exported.
    bool exportPin(int pin) const;
    bool unexportPin(int pin) const;
    // Direction "in" and active_low "1", so a pressed button reads '1'; false
    // when either file cannot be opened.
    bool configureInput(int pin) const;
    // The value file's first character; -1 when the file cannot be opened.
    int readValue(int pin) const;

    std::string pinFile(int pin, const char* name) const;

private:
    std::string base_;
    int directionWaitMs_;
};

} // namespace button
