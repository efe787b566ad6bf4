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
