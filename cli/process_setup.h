// What the console program does to its process before it reads its command
// line; each platform has its own.
#pragma once

void PrepareProcess();

// Has `end` run for every signal we may catch whose default ends the
// process, except the crash signals; a signal ignored when the program
// starts stays ignored. `end` cleans up, then ends the program with the
// signal it got.
void CatchEndingSignals(void (*end)(int));
