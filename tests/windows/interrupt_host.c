/* Starts a console program on a console of our own and interrupts it as
 * soon as a file matching PATTERN appears in the current folder (the
 * temporary file of its write), then waits for it to end. EVENT is "break":
 * the program runs in a process group of its own and gets Ctrl+Break (a
 * group cannot be sent Ctrl+C); or "c": it shares our group and the console
 * gets Ctrl+C, which we ignore. Before that, the temporary file must refuse
 * to be opened for reading by anyone else. Prints one line: "interrupted", "skipped: WHY"
 * when the event could not be delivered (the program then ends on its own),
 * or "failed: WHY". Exits 0, 77 for a skip, 1 for a failure.
 * Usage: interrupt_host EVENT PATTERN PROGRAM ARGS...  (arguments without spaces) */
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
    if (argc < 4 || (strcmp(argv[1], "break") != 0 && strcmp(argv[1], "c") != 0)) {
        return Report(1, "failed: usage: interrupt_host break|c PATTERN PROGRAM ARGS...");
    }
    const int ctrlBreak = strcmp(argv[1], "break") == 0;
    char command[4096] = "";
    for (int i = 3; i < argc; ++i) {
        if (strlen(command) + strlen(argv[i]) + 2 >= sizeof command) {
            return Report(1, "failed: the command line is too long");
        }
        strcat(command, argv[i]);
        strcat(command, i + 1 < argc ? " " : "");
    }
    /* The event reaches only the processes attached to one console. */
    FreeConsole();
    if (!AllocConsole()) {
        return Report(77, "skipped: no console of our own (error %lu)", GetLastError());
    }
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, ctrlBreak ? CREATE_NEW_PROCESS_GROUP : 0,
                        NULL, NULL, &startup, &process)) {
        return Report(1, "failed: the program could not be started (error %lu)", GetLastError());
    }
    /* Set after the start: a child would inherit it. */
    SetConsoleCtrlHandler(NULL, TRUE);
    WIN32_FIND_DATAA found;
    HANDLE search = INVALID_HANDLE_VALUE;
    for (DWORD waited = 0; waited < kWaitMillis; waited += kPollMillis) {
        search = FindFirstFileA(argv[2], &found);
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
    /* Nobody else may read what is being written. */
    const HANDLE reader = CreateFileA(found.cFileName, GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                      OPEN_EXISTING, 0, NULL);
    const DWORD refusal = GetLastError();
    if (reader != INVALID_HANDLE_VALUE || refusal != ERROR_SHARING_VIOLATION) {
        if (reader != INVALID_HANDLE_VALUE) {
            CloseHandle(reader);
        }
        TerminateProcess(process.hProcess, 1);
        return Report(1, "failed: another program could open the temporary file (error %lu)",
                      reader != INVALID_HANDLE_VALUE ? 0 : refusal);
    }
    const char* name = ctrlBreak ? "Ctrl+Break" : "Ctrl+C";
    const BOOL sent = ctrlBreak ? GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId)
                                : GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    const DWORD error = GetLastError();
    DWORD status = 0;
    if (WaitForSingleObject(process.hProcess, kWaitMillis) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        return Report(1, "failed: the program still ran a minute after %s", name);
    }
    GetExitCodeProcess(process.hProcess, &status);
    if (!sent) {
        return Report(77, "skipped: %s could not be sent here (error %lu)", name, error);
    }
    if (status == 0) {
        return Report(77, "skipped: %s did not arrive; the write ended normally", name);
    }
    return Report(0, "interrupted by %s (exit status %#lx)", name, status);
}
