// The trace file and the process-wide switches.
#include <cstdarg>
#include <cstdio>

#include "diag/diag.h"

namespace {
int debugSwitch = 1;
}

int TraceWrite(const char* fileName, const char* format, ...) {
    if (format == nullptr) {
        return 0;
    }
    // Opened and closed on every call, so the file is complete whenever the
    // process stops.
    std::FILE* file =
        std::fopen(fileName != nullptr && *fileName != 0 ? fileName : "dbprint.trc", "a");
    if (file == nullptr) {
        return 0;
    }
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vfprintf(file, format, arguments);
    va_end(arguments);
    const int closed = std::fclose(file);
    return written < 0 || closed != 0 ? -1 : 0;
}

int DebugSwitch(int value) {
    if (value == 0 || value == 1) {
        debugSwitch = value;
    }
    return debugSwitch;
}
