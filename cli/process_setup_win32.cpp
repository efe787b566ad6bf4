#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdio>

#include "cli/process_setup.h"

namespace {

void (*endProgram)(int) = nullptr;

// Ctrl+C, Ctrl+Break, the console window closed, the user logging off or
// the system shutting down: the program ends as on Ctrl+C, its unfinished
// file removed first. Runs in a thread of its own, before the C runtime's
// handler.
BOOL WINAPI EndOnConsoleEvent(DWORD event) {
    endProgram(event == CTRL_BREAK_EVENT ? SIGBREAK : SIGINT);
    return FALSE;  // not reached: the program has ended
}

}  // namespace

void PrepareProcess() {
    // The usage screen, the messages and the trace end their lines with a
    // line feed alone, as on every other platform, rather than the C
    // runtime's carriage return and line feed.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

void CatchEndingSignals(void (*end)(int)) {
    // SIGTERM only comes from raise(); the console's events come through the
    // handler. A process started with Ctrl+C disabled never gets that event.
    constexpr int kEnding[] = {SIGINT, SIGBREAK, SIGTERM};
    for (const int signal : kEnding) {
        std::signal(signal, end);
    }
    endProgram = end;
    SetConsoleCtrlHandler(EndOnConsoleEvent, TRUE);
}
