// The platform's code page 932 tables, behind whole-text conversions between
// Unicode code points and Shift-JIS. The rules for unreadable and unmappable
// text live in utf8_sjis.cpp, so every platform gives the same bytes.
#pragma once

#include <cstddef>

// The platform's own character set, where PlatformCharCode starts.
extern const int kPlatformCharCode;

// Code point for a character that cannot be read or has no mapping.
constexpr char32_t kReplacementChar = U'?';

// Encodes `count` code points (all below 0x10000 and none a surrogate) as
// Shift-JIS into `out`, which has room for 2 * count bytes; each character
// code page 932 lacks becomes '?'. `scratch` has room for `count` 16-bit
// units. Returns the number of bytes written, or -1 when the platform's
// converter cannot be had.
long CodePageEncodeSjis(const char32_t* text, size_t count, char* out, char16_t* scratch);

// Decodes `length` bytes of Shift-JIS into `out`, which has room for `length`
// code points; each character the code page cannot read becomes '?', taking
// the bytes SjisUnreadableRun gives. `scratch` has room for `length` 16-bit
// units. Returns the number of code points written, or -1 when the
// platform's converter cannot be had.
long CodePageDecodeSjis(const char* bytes, size_t length, char32_t* out, char16_t* scratch);

// Bytes of the unreadable Shift-JIS character at `bytes` (`left` bytes
// remain): a lead byte and a trail byte make one (an unassigned code),
// anything else is one byte alone.
size_t SjisUnreadableRun(const unsigned char* bytes, size_t left);
