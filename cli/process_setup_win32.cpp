#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "cli/process_setup.h"
#include "qrfile/qrfile.h"

namespace {

// Ctrl+C, Ctrl+Break, the console window closed, the user logging off or
// the system shutting down: the unfinished file goes, the one it was to
// replace stays as it was, and the system's own handler then ends the
// program. Runs in a thread of its own.
BOOL WINAPI EndOnConsoleEvent(DWORD /*event*/) {
    QrFileRemoveUnfinished();
    return FALSE;
}

}  // namespace

void PrepareProcess() {
    // The usage screen, the messages and the trace end their lines with a
    // line feed alone, as on every other platform, rather than the C
    // runtime's carriage return and line feed.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleCtrlHandler(EndOnConsoleEvent, TRUE);
}
