// Code page 932 through MultiByteToWideChar and WideCharToMultiByte. Both
// take the whole text at once; a text with an unreadable character is read
// again character by character, so that each one is replaced on its own.
#include <windows.h>

#include "charcode/charcode.h"
#include "charcode/codepage.h"

extern const int kPlatformCharCode = CHARCODE_SJIS;

namespace {

constexpr UINT kShiftJis = 932;

// Bytes of the Shift-JIS character at `bytes` as the code page splits text.
size_t CharacterBytes(const unsigned char* bytes, size_t left) {
    return IsSjisLeadByte(bytes[0]) && left > 1 ? SjisUnreadableRun(bytes, left) : 1;
}

}  // namespace

long CodePageEncodeSjis(const char32_t* text, size_t count, char* out, char16_t* scratch) {
    if (count == 0) {
        return 0;
    }
    // Every code point is below 0x10000, so each is one UTF-16 unit and each
    // unmappable one a single '?'.
    for (size_t i = 0; i < count; ++i) {
        scratch[i] = static_cast<char16_t>(text[i]);
    }
    char defaultChar[] = "?";
    BOOL usedDefault = FALSE;
    const int written = WideCharToMultiByte(
        kShiftJis, WC_NO_BEST_FIT_CHARS, reinterpret_cast<const wchar_t*>(scratch),
        static_cast<int>(count), out, static_cast<int>(2 * count), defaultChar, &usedDefault);
    return written > 0 ? written : -1;
}

long CodePageDecodeSjis(const char* bytes, size_t length, char32_t* out, char16_t* scratch) {
    if (length == 0) {
        return 0;
    }
    auto* wide = reinterpret_cast<wchar_t*>(scratch);
    int units = MultiByteToWideChar(kShiftJis, MB_ERR_INVALID_CHARS, bytes,
                                    static_cast<int>(length), wide, static_cast<int>(length));
    if (units > 0) {
        for (int i = 0; i < units; ++i) {
            out[i] = static_cast<char16_t>(wide[i]);
        }
        return units;
    }
    if (GetLastError() != ERROR_NO_UNICODE_TRANSLATION) {
        return -1;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    long count = 0;
    size_t at = 0;
    while (at < length) {
        size_t step = CharacterBytes(in + at, length - at);
        wchar_t unit = 0;
        if (MultiByteToWideChar(kShiftJis, MB_ERR_INVALID_CHARS, bytes + at, static_cast<int>(step),
                                &unit, 1) == 1) {
            out[count++] = static_cast<char16_t>(unit);
        } else {
            out[count++] = kReplacementChar;
            step = SjisUnreadableRun(in + at, length - at);
        }
        at += step;
    }
    return count;
}
