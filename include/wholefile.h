// A whole file read or written at once, for the small text files the programs
// follow and keep.
#pragma once

#include <string>

// The file's bytes in *text; false, with *text untouched, when it cannot be
// opened or a read fails (a directory, a bad sector), so a caller never takes
// half a file or nothing for its content.
bool readWholeFile(const std::string& path, std::string* text);

// Replaces the file's content with text (created with mode 0666 less the umask
// when missing); false, with errno telling why, when it cannot be opened (a
// directory, a missing folder) or a write or the close fails (a full disk), so
// that a caller never reports a file written that is not.
bool writeWholeFile(const std::string& path, const std::string& text);
