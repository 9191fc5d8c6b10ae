// A whole file read at once, for the small text files the programs follow.
#pragma once

#include <string>

// The file's bytes in *text; false, with *text untouched, when it cannot be
// opened or a read fails (a directory, a bad sector), so a caller never takes
// half a file or nothing for its content.
bool readWholeFile(const std::string& path, std::string* text);
