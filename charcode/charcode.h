// Character code conversion: message converters to and from Shift-JIS, the
// platform character set, and further code tables.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Platform character set ---------------------------------------------

constexpr int CHARCODE_SJIS = 0;
constexpr int CHARCODE_EUC = 1;
constexpr int CHARCODE_UTF8 = 2;

// The character set of this build's platform: UTF-8 on Linux, Shift-JIS
// (the ANSI code page of a Japanese system) on Windows.
int PlatformCharCode();
// Stores a new platform code unchanged (for callers and tests; nothing in the
// QR path calls it).
void SetPlatformCharCode(int code);

// ---- Message converters --------------------------------------------------
// Each reads a NUL-terminated source and writes a NUL-terminated result of at
// most `capacity` bytes (terminator included) into a separate destination.

// EUC-JP to Shift-JIS and back, byte by byte. Returns 0, or -7 (nothing
// written) when strlen(source) >= capacity. A malformed double-byte character
// (a trail byte out of range, or a lead byte or 0x8E right before the
// terminator) ends the conversion: the part converted so far is terminated and
// 0 is returned. EucToSjis never lengthens the text; SjisToEuc turns each
// half-width kana into two bytes and so may need up to 2 * strlen(source) + 1
// bytes: it stops before a character that would not fit with its terminator,
// terminates what it has and returns 0.
int EucToSjis(const char* source, char* destination, int capacity);
int SjisToEuc(const char* source, char* destination, int capacity);

// UTF-8 to Shift-JIS (code page 932) and back. Bytes the source code page
// cannot read and characters the target lacks become '?'; a result that does
// not fit ends at the last whole character. 0, or -12 when the working buffer
// or the converter cannot be had (then nothing is written).
int Utf8ToSjis(const char* source, char* destination, int capacity);
// Whether `byte` starts a double-byte character of code page 932.
constexpr bool IsSjisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
int SjisToUtf8(const char* source, char* destination, int capacity);

// ---- Code tables and other converters ------------------------------------
// Plain text and byte utilities for callers; nothing on the QR path uses them.
// Strings are NUL-terminated unless a length is given, and the caller owns
// every buffer.

// Katakana EBCDIC <-> ASCII with JIS X 0201 half-width katakana, indexed by
// the unsigned input byte.
extern const uint8_t EbcdicToAsciiTable[256];
extern const uint8_t AsciiToEbcdicTable[256];

// Translate a string with its terminator (the output has the same length);
// return destination, which must hold strlen(source) + 1 bytes.
char* EbcdicToAscii(const char* source, char* destination);
char* AsciiToEbcdic(const char* source, char* destination);
// Translate exactly `length` bytes, NUL bytes included, writing no terminator.
char* EbcdicToAsciiN(const char* source, char* destination, int length);
char* AsciiToEbcdicN(const char* source, char* destination, int length);
// One byte (taken as unsigned); the table byte comes back as a signed char
// value, so 0x80 to 0xFF are negative.
int EbcdicToAsciiChar(int byte);
int AsciiToEbcdicChar(int byte);

// Display columns of a string in the platform character set: double-byte
// characters take two, ASCII and half-width kana one. A character cut off by
// the terminator still counts; nothing past the terminator is read.
int DisplayWidth(const char* text);

// Class of a character's first byte in the platform character set: 0 one-column
// single byte, 1 half-width katakana, 2 first byte of a two-column character,
// -1 a byte that cannot start a character (UTF-8 only).
int LeadByteClass(int byte);

// Half-width katakana to full-width in Shift-JIS (platform code 0) or EUC
// (code 1), a following (semi-)voiced sound mark merged where a combined form
// exists. Returns 0, or -1 without writing for any other platform code. The
// destination must hold 2 * strlen(source) + 1 bytes. A lead byte (or EUC
// 0x8E) right before the terminator is copied as it is and ends the text.
int ToFullWidthKana(const char* source, char* destination);

// Clears `rowCount` rows of `rowWidth` bytes and fills them with the source,
// each row NUL-terminated and no double-byte character (first byte with the top
// bit set) split between rows. Text that reaches the last row is dropped there,
// so with two rows or more the last one stays empty; a single row takes what
// fits. Returns the number of rows holding text, or -1 when a character cannot
// fit a row (rowWidth below 2, or below 3 for a double-byte character). A first
// byte right before the terminator is copied alone.
int SplitIntoRows(const char* source, char* rows, int rowCount, int rowWidth);

// Cuts the string in place to at most `length` bytes without splitting a
// double-byte character (first byte with the top bit set); returns the new
// length. A string that already fits is left alone, so only the string itself
// is read or written.
int TruncateText(char* text, int length);

// Converts `count` fields, `width` bytes apart, in place: direction 1 EUC to
// Shift-JIS, 2 Shift-JIS to EUC, by the rules of EucToSjis and SjisToEuc. A
// field's text ends at its NUL or after `width` bytes; its result is cut after
// the last whole character that leaves room for a terminator and the rest of
// the field is cleared. Returns fields, or nullptr for another direction or
// when the work buffer cannot be allocated (then no field is changed).
char* ConvertFieldArray(char* fields, int count, int width, int direction);

// ---- Byte order ----------------------------------------------------------
// The swaps reverse unconditionally; the caller decides with IsLittleEndian
// whether its data needs them.

int IsLittleEndian();
// Reverses `length` bytes in place; returns 0.
int ReverseBytes(void* buffer, int length);
// Reverses each of `count` consecutive elements of `elementSize` bytes.
void ReverseElements(void* buffer, int count, int elementSize);

uint16_t SwapU16(uint16_t value);
uint32_t SwapU32(uint32_t value);
uint64_t SwapU64(uint64_t value);
int16_t SwapS16(int16_t value);
int32_t SwapS32(int32_t value);
int32_t SwapLong(int32_t value);  // a 32-bit long as stored by the data's producers
int64_t SwapS64(int64_t value);
float SwapFloat(float value);
double SwapDouble(double value);
double SwapLongDouble(double value);  // an 8-byte long double, which is an IEEE double

void SwapU16Array(uint16_t* values, int count);
void SwapU32Array(uint32_t* values, int count);
void SwapU64Array(uint64_t* values, int count);
void SwapS16Array(int16_t* values, int count);
void SwapS32Array(int32_t* values, int count);
void SwapLongArray(int32_t* values, int count);
void SwapS64Array(int64_t* values, int count);
void SwapFloatArray(float* values, int count);
void SwapDoubleArray(double* values, int count);
void SwapLongDoubleArray(double* values, int count);
