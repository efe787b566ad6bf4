// Opening the message file by name, the platform's way.
#pragma once

#include <cstdio>

// Opens the named file for reading in binary; `utf8Name` says the name is
// UTF-8 rather than in the platform's own code page. nullptr when it cannot
// be opened.
std::FILE* OpenMessageFile(const char* name, bool utf8Name);
