// The console program's command line: name check, options, usage screen and
// result messages around one call of ZEMQRFile.
#pragma once

// Exit statuses.
constexpr int kExitWritten = 0;    // the image file was written
constexpr int kExitWrongName = 1;  // started under a name other than zemQRCode
constexpr int kExitFailed = 2;     // the operation (or a too long argument) failed
constexpr int kExitUsage = 22;     // the usage screen was shown

// Runs one request from the argument vector and returns the exit status;
// messages go to standard error, the usage screen to standard output.
int RunCommandLine(int argc, char** argv);
