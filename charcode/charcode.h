// Character code conversion: message converters to and from Shift-JIS, the
// platform character set, and further code tables.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Platform character set ---------------------------------------------

constexpr int CHARCODE_SJIS = 0;
constexpr int CHARCODE_EUC = 1;
constexpr int CHARCODE_UTF8 = 2;

// The character set of this build's platform: UTF-8 on Linux.
int PlatformCharCode();
// Stores a new platform code unchanged (for callers and tests; nothing in the
// QR path calls it).
void SetPlatformCharCode(int code);

// ---- Message converters --------------------------------------------------
// Each reads a NUL-terminated source and writes a NUL-terminated result of at
// most `capacity` bytes (terminator included) into a separate destination.

// EUC-JP to Shift-JIS and back. 0, or -7 when the source is `capacity` bytes
// or longer (then nothing is written).
int EucToSjis(const char* source, char* destination, int capacity);
int SjisToEuc(const char* source, char* destination, int capacity);

// UTF-8 to Shift-JIS (code page 932) and back. Bytes the source code page
// cannot read and characters the target lacks become '?'; a result that does
// not fit ends at the last whole character. 0, or -12 when the working buffer
// or the converter cannot be had (then nothing is written).
int Utf8ToSjis(const char* source, char* destination, int capacity);
int SjisToUtf8(const char* source, char* destination, int capacity);
