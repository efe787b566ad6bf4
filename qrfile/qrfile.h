// QR image file service: the one operation both the console program and the
// shared library offer, ZEMQRFile (declared with its exports in the public
// header), and the naming rule its callers need to size their buffers.
#pragma once

#include "include/zemqrfile.h"

// Size of the operation's message buffers: a message is at most 8191 bytes.
constexpr int kQrMessageBufferSize = 8192;
// Characters the operation may append to the caller's output name.
constexpr int kQrPngSuffixLength = 4;

// Whether ZEMQRFile appends ".png" to this output name: it has fewer than 4
// characters, or does not end in ".bmp" or ".png" in any letter case.
bool QrFileNameGetsPngSuffix(const char* fileName);

// For the console program's handler of a signal that ends it part way through
// a write: removes the unfinished file, so the one it was to replace stays as
// it was. Safe to call in a signal handler.
void QrFileRemoveUnfinished();
