#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "cli/process_setup.h"

void PrepareProcess() {
    // The usage screen, the messages and the trace end their lines with a
    // line feed alone, as on every other platform, rather than the C
    // runtime's carriage return and line feed.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}
