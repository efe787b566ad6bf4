// Diagnostics: the trace file, typed memory-dump lines, a string key, the
// multi-byte character length of the platform character set and process-wide
// switches. Offered to callers of the core; the QR path uses none of it.
#pragma once

#include <cstdint>

// The platform character set that CharExtraBytes follows, with its query and
// setter, belongs to the character code interface.
#include "charcode/charcode.h"

// ---- Trace file and switches ---------------------------------------------

// Appends printf-formatted text, exactly as given, to `fileName` ("dbprint.trc"
// when null or empty), opening and closing the file on every call. Returns 0
// when the file cannot be opened or `format` is null (nothing is written),
// otherwise 0 when the text was written and the file closed, or -1 when either
// failed.
int TraceWrite(const char* fileName, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The calling thread's last system error (errno, or GetLastError on
// Windows), never negative.
int LastSystemError();

// The process-wide debug switch, initially 1: 0 or 1 is stored, any other value
// only reads it. Returns the setting.
int DebugSwitch(int value);

// ---- Characters and keys -------------------------------------------------

// How many bytes after the first belong to the character that starts at
// `text`, by PlatformCharCode(): EUC 1 for 0x8E and 0xA0 and above; UTF-8 by
// the lead byte's pattern (a stray continuation byte takes the run of stray
// bytes behind it); Shift-JIS 1 for a lead byte 0x80-0x9F or 0xE0-0xEF followed
// by 0x40 or above. The count never reaches the terminator: a character cut
// off by it counts only its bytes before it.
int CharExtraBytes(const char* text);
// The same within `available` bytes from `text` (data that need not be
// NUL-terminated): neither a NUL byte nor anything from `available` on is
// counted or read.
int CharExtraBytesWithin(const char* text, long available);

// A permutation of 0 to 255 that scatters the bytes of StringKey.
extern const uint8_t KeyPermutation[256];

// A key of a NUL-terminated string: tag 0 gives a non-negative 31-bit key, any
// other tag gives tag * 65536 plus a 16-bit key (wrapping to 32 bits).
int32_t StringKey(int tag, const char* text);

// ---- Memory dump lines ---------------------------------------------------

// Element type of a dump line, in bits 12 to 15 of FormatDumpLine's options.
// Byte dumps may also use the type codes 0x5000 and 0xD000.
constexpr uint32_t DUMP_BYTES = 0x0000;        // " %02x"
constexpr uint32_t DUMP_INT16 = 0x1000;        // "%6hd"
constexpr uint32_t DUMP_INT32 = 0x2000;        // "%12d"
constexpr uint32_t DUMP_FLOAT = 0x3000;        // "%12.4e"
constexpr uint32_t DUMP_DOUBLE = 0x4000;       // "%24.15e"
constexpr uint32_t DUMP_INT64 = 0x6000;        // "%24lld"
constexpr uint32_t DUMP_LONG_DOUBLE = 0x7000;  // one double per 16 bytes, "%49.40Le"
constexpr uint32_t DUMP_HEX16 = 0x8000;        // "  %04hx"
constexpr uint32_t DUMP_UINT16 = 0x9000;       // "%6hu"
constexpr uint32_t DUMP_UINT32 = 0xA000;       // "%12u"
constexpr uint32_t DUMP_HEX32 = 0xB000;        // "    %08x"
constexpr uint32_t DUMP_HEX64 = 0xC000;        // "%8s%016llx"
constexpr uint32_t DUMP_UINT64 = 0xE000;       // "%24llu"
constexpr uint32_t DUMP_CHARS = 0xF000;        // a character line only
// Character column follows the platform's multi-byte characters.
constexpr uint32_t DUMP_MULTIBYTE = 0x10000;
// 20 bytes a line instead of 16 (100 characters on a character line); only
// for element sizes 1 and 2, ignored otherwise.
constexpr uint32_t DUMP_WIDE = 0x20000;

// The longest line with its terminator: a wide character line (13 + 100
// characters), the last character running up to five bytes past it, and NUL.
constexpr int DUMP_LINE_SIZE = 119;

// Formats into `line` (DUMP_LINE_SIZE bytes) the dump line of `data` (`length`
// bytes) that starts at byte offset *position: a 13-character header of the
// label's first characters and the element index, the values from column 13,
// ':' and a character column (bytes 0x20-0x7E shown, others '.'). Advances
// *position past the line and keeps in *carry how many bytes of a multi-byte
// character shown at the end of this line the next line shows as '.'. Returns
// 1 when an element on the line is non-zero (always for a character line),
// else 0.
// Nothing at or past `length` is read:
// - an element cut off by `length` gets a blank value, its bytes still show in
//   the character column, and the line counts as non-zero if any is set;
// - a multi-byte character cut off by `length` or by a NUL byte shows only the
//   bytes before it (a lone first byte as a single byte);
// - a run of stray UTF-8 bytes shows in pieces of at most six bytes, so that
//   the line stays within DUMP_LINE_SIZE;
// - a *position outside 0 to length - 1 gives a header line without bytes,
//   returns 0 and leaves *position and *carry as they are.
int FormatDumpLine(uint32_t options, const char* label, const void* data, long length,
                   long* position, int* carry, char* line);
