/* Starts a console program in a process group of its own and sends it
 * Ctrl+Break as soon as a file matching PATTERN appears in the current
 * folder (the temporary file of its write), then waits for it to end.
 * Prints one line: "interrupted", or "skipped: WHY" when the event could not
 * be delivered, or "failed: WHY". Exits 0, 77 for a skip, 1 for a failure.
 * Usage: interrupt_host PATTERN PROGRAM ARGS...  (arguments without spaces) */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

enum { kWaitMillis = 60000, kPollMillis = 2 };

static int Report(int status, const char* format, ...) {
    va_list details;
    va_start(details, format);
    vprintf(format, details);
    va_end(details);
    putchar('\n');
    return status;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        return Report(1, "failed: usage: interrupt_host PATTERN PROGRAM ARGS...");
    }
    char command[4096] = "";
    for (int i = 2; i < argc; ++i) {
        if (strlen(command) + strlen(argv[i]) + 2 >= sizeof command) {
            return Report(1, "failed: the command line is too long");
        }
        strcat(command, argv[i]);
        strcat(command, i + 1 < argc ? " " : "");
    }
    /* The event goes to the processes attached to our console. */
    if (GetConsoleWindow() == NULL && !AllocConsole() && GetLastError() != ERROR_ACCESS_DENIED) {
        return Report(77, "skipped: no console to send the event through (error %lu)",
                      GetLastError());
    }
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, CREATE_NEW_PROCESS_GROUP, NULL, NULL,
                        &startup, &process)) {
        return Report(1, "failed: the program could not be started (error %lu)", GetLastError());
    }
    WIN32_FIND_DATAA found;
    HANDLE search = INVALID_HANDLE_VALUE;
    for (DWORD waited = 0; waited < kWaitMillis; waited += kPollMillis) {
        search = FindFirstFileA(argv[1], &found);
        if (search != INVALID_HANDLE_VALUE ||
            WaitForSingleObject(process.hProcess, kPollMillis) == WAIT_OBJECT_0) {
            break;
        }
    }
    if (search == INVALID_HANDLE_VALUE) {
        TerminateProcess(process.hProcess, 1);
        return Report(1, "failed: no temporary file appeared while the program ran");
    }
    FindClose(search);
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId)) {
        const DWORD error = GetLastError();
        TerminateProcess(process.hProcess, 1);
        return Report(77, "skipped: Ctrl+Break could not be sent (error %lu)", error);
    }
    DWORD status = 0;
    if (WaitForSingleObject(process.hProcess, kWaitMillis) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        return Report(1, "failed: the program still ran a minute after Ctrl+Break");
    }
    GetExitCodeProcess(process.hProcess, &status);
    if (status == 0) {
        return Report(77, "skipped: Ctrl+Break did not arrive; the write ended normally");
    }
    return Report(0, "interrupted (exit status %#lx)", status);
}
