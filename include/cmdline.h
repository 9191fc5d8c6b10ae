// Command-line checks of the tools: a refused option or number says on
// standard error what was wrong.
#pragma once

#include "numbers.h"

#include <cctype>
#include <cstdio>
#include <cstring>

// The message of getopt's '?' (with opterr 0) for optopt: "Option -a requires
// an argument." for the address option, "Unknown option `-x'." for any other
// printable character.
inline void reportBadOption(int option)
{
    if (option == 'a')
        fprintf(stderr, "Option -%c requires an argument.\n", option);
    else if (isprint(option))
        fprintf(stderr, "Unknown option `-%c'.\n", option);
}

// A whole number in [min, max] as the argument of option.
inline bool numberOption(int option, const char* text, long min, long max, long* value)
{
    if (parseWholeNumber(text, min, max, value))
        return true;
    fprintf(stderr, "Error: -%c needs a whole number, not \"%s\"\n", option, text);
    return false;
}

// The message for an argument of option that is no port.
inline void reportNotAPort(int option, const char* text)
{
    fprintf(stderr, "Error: -%c needs a port number, not \"%s\"\n", option, text);
}

// A TCP port as the argument of option.
inline bool portOption(int option, const char* text, int* port)
{
    if (parsePortNumber(text, port))
        return true;
    reportNotAPort(option, text);
    return false;
}

// The program's own name, as the service names its section: argv[0] without
// its folder.
inline const char* programName(const char* argv0)
{
    const char* slash = strrchr(argv0, '/');
    return slash != nullptr ? slash + 1 : argv0;
}
