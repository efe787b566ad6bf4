// UTF-8 <-> Shift-JIS (code page 932) through glibc's iconv. The text goes by
// way of wide characters, so that every sequence the source code page cannot
// read and every character the target code page lacks is replaced on its own
// and the rest of the text still comes through.
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

#include "charcode/charcode.h"
#include "diag/memory.h"

namespace {

[[gnu::used]] const char kModuleId[] =
    "File Version [Utf8Sjis] " __DATE__ "/" __TIME__ " [250605.0900]";

constexpr int kNoConverter = -12;
// Code page 932's default character; it stands for both bytes the source
// cannot read and characters the target lacks, in either direction.
constexpr char kDefaultChar = '?';
constexpr wchar_t kDefaultWide = L'?';
constexpr const char kWide[] = "WCHAR_T";
constexpr const char kShiftJis[] = "CP932";
constexpr const char kUtf8[] = "UTF-8";

bool InRange(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

// Bytes of the ill-formed UTF-8 sequence at `bytes` that make up one
// replacement: the lead byte and the continuation bytes that could still have
// belonged to it (the maximal subpart).
size_t Utf8BadRun(const unsigned char* bytes, size_t left) {
    const unsigned char lead = bytes[0];
    int trailing = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    if (InRange(lead, 0xC2, 0xDF)) {
        trailing = 1;
    } else if (InRange(lead, 0xE0, 0xEF)) {
        trailing = 2;
        secondLow = lead == 0xE0 ? 0xA0 : 0x80;
        secondHigh = lead == 0xED ? 0x9F : 0xBF;
    } else if (InRange(lead, 0xF0, 0xF4)) {
        trailing = 3;
        secondLow = lead == 0xF0 ? 0x90 : 0x80;
        secondHigh = lead == 0xF4 ? 0x8F : 0xBF;
    }
    size_t run = 1;
    if (trailing > 0 && run < left && InRange(bytes[run], secondLow, secondHigh)) {
        ++run;
        while (run < static_cast<size_t>(trailing) && run < left &&
               InRange(bytes[run], 0x80, 0xBF)) {
            ++run;
        }
    }
    return run;
}

// Bytes of the unreadable Shift-JIS character at `bytes`: a lead byte and a
// trail byte make one (an unassigned code), anything else is one byte alone.
size_t SjisBadRun(const unsigned char* bytes, size_t left) {
    const unsigned char lead = bytes[0];
    const bool isLead = InRange(lead, 0x81, 0x9F) || InRange(lead, 0xE0, 0xFC);
    if (isLead && left > 1 && (InRange(bytes[1], 0x40, 0x7E) || InRange(bytes[1], 0x80, 0xFC))) {
        return 2;
    }
    return 1;
}

// Decodes `source` (without its terminator) into `wide`, which has room for
// one wide character per source byte plus the terminator.
void DecodeToWide(iconv_t decoder, const char* source, wchar_t* wide,
                  size_t (*badRun)(const unsigned char*, size_t)) {
    char* in = const_cast<char*>(source);
    size_t inLeft = std::strlen(source);
    char* out = reinterpret_cast<char*>(wide);
    size_t outLeft = (inLeft + 1) * sizeof(wchar_t);
    while (inLeft > 0) {
        if (iconv(decoder, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1)) {
            break;
        }
        if (errno == E2BIG) {
            break;  // cannot happen: every source byte yields at most one wide character
        }
        // EILSEQ, or EINVAL for a sequence cut off by the end of the text.
        const size_t skip = badRun(reinterpret_cast<const unsigned char*>(in), inLeft);
        std::memcpy(out, &kDefaultWide, sizeof(wchar_t));
        out += sizeof(wchar_t);
        outLeft -= sizeof(wchar_t);
        in += skip;
        inLeft -= skip;
    }
    std::memset(out, 0, sizeof(wchar_t));
}

// Encodes the terminated `wide` text into `destination`, stopping at the last
// whole character that leaves room for the terminator.
void EncodeFromWide(iconv_t encoder, const wchar_t* wide, char* destination, size_t capacity) {
    char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(wide));
    size_t inLeft = std::wcslen(wide) * sizeof(wchar_t);
    char* out = destination;
    size_t outLeft = capacity - 1;
    while (inLeft > 0) {
        if (iconv(encoder, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1)) {
            break;
        }
        if (errno != EILSEQ || outLeft == 0) {
            break;  // the destination is full
        }
        *out++ = kDefaultChar;
        --outLeft;
        in += sizeof(wchar_t);
        inLeft -= sizeof(wchar_t);
    }
    *out = '\0';
}

// Converts from code page `from` to code page `to` through wide characters.
// 0, or -12 when the working buffer or a converter cannot be had (then
// nothing is written).
int Convert(const char* from, const char* to, size_t (*badRun)(const unsigned char*, size_t),
            const char* source, char* destination, int capacity) {
    if (capacity < 1) {
        return 0;  // not even the terminator fits
    }
    const size_t wideCount = std::strlen(source) + 1;
    auto* wide = static_cast<wchar_t*>(MemAlloc(wideCount * sizeof(wchar_t)));
    if (wide == nullptr) {
        return kNoConverter;
    }
    const iconv_t decoder = iconv_open(kWide, from);
    const iconv_t encoder = iconv_open(to, kWide);
    const iconv_t failed = reinterpret_cast<iconv_t>(-1);
    int result = kNoConverter;
    if (decoder != failed && encoder != failed) {
        DecodeToWide(decoder, source, wide, badRun);
        EncodeFromWide(encoder, wide, destination, static_cast<size_t>(capacity));
        result = 0;
    }
    if (encoder != failed) {
        iconv_close(encoder);
    }
    if (decoder != failed) {
        iconv_close(decoder);
    }
    MemFree(wide);
    return result;
}

}  // namespace

int Utf8ToSjis(const char* source, char* destination, int capacity) {
    // ASCII is the same in both code pages: such text is copied as it is,
    // without loading a converter.
    size_t length = 0;
    while (source[length] != '\0' && static_cast<unsigned char>(source[length]) < 0x80) {
        ++length;
    }
    if (source[length] == '\0' && capacity >= 1) {
        const size_t kept = length < static_cast<size_t>(capacity) ? length : capacity - 1;
        std::memmove(destination, source, kept);
        destination[kept] = '\0';
        return 0;
    }
    return Convert(kUtf8, kShiftJis, Utf8BadRun, source, destination, capacity);
}

int SjisToUtf8(const char* source, char* destination, int capacity) {
    return Convert(kShiftJis, kUtf8, SjisBadRun, source, destination, capacity);
}
