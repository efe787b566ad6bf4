// The console program's command line: name check, options, usage screen and
// result messages around one call of ZEMQRFile.
#pragma once

// Exit statuses.
constexpr int kExitWritten = 0;    // the image file was written
constexpr int kExitWrongName = 1;  // started under a name other than zemQRCode
constexpr int kExitFailed = 2;     // the operation (or a too long argument) failed
constexpr int kExitUsage = 22;     // the usage screen was shown

// The arguments as Windows gives them apart from `argv`, which holds them in
// the ANSI code page (as the program prints them, and as -k 1 and -k 2 take
// a message): here in UTF-8, with every character they were typed with.
struct UnicodeArguments {
    char** utf8;            // argc entries
    const bool* ansiHolds;  // whether argv's entry holds every character of it
};

// Runs one request from the argument vector and returns the exit status;
// messages go to standard error, the usage screen to standard output.
// Without `unicode` the arguments are argv's, as they are.
int RunCommandLine(int argc, char** argv, const UnicodeArguments* unicode = nullptr);
