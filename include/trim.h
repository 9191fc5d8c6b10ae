// Strips leading and trailing characters of a set from a text.
#pragma once

#include <string>

// A text made only of characters from delims gives ""; an empty delims changes nothing.
std::string trim(const std::string& source, const char* delims = " \t\r\n");
