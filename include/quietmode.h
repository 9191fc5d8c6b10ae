// The command line of the device services that take only -q.
#pragma once

// True for "-q". Anything else, or nothing, prints the usage on standard error
// and the program runs not quiet.
bool quietMode(int argc, char** argv);
