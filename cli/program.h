// The console program's start, shared by the platforms' entry functions
// (cli/arguments_<platform>.cpp), which read the command line their way.
#pragma once

#include "cli/command_line.h"

// Prepares the process and runs the command line; returns the exit status.
int StartProgram(int argc, char** argv, const UnicodeArguments* unicode);
