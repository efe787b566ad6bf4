// UTF-8 <-> Shift-JIS (code page 932). The text goes by way of Unicode code
// points: this file reads and writes UTF-8 and applies the replacement rules,
// the platform's code page tables (codepage_*.cpp) do the rest. Every sequence
// the source cannot read and every character the target lacks is replaced on
// its own by '?', and the rest of the text still comes through.
#include <cstring>

#include "charcode/charcode.h"
#include "charcode/codepage.h"
#include "diag/build_stamp.h"
#include "diag/memory.h"

namespace {

[[gnu::used]] const char kModuleId[] =
    "File Version [Utf8Sjis] " __DATE__ "/" __TIME__ " [" ZEM_BUILD_STAMP "]";

constexpr int kNoConverter = -12;

bool InRange(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

// Where the platforms' code page 932 tables disagree, the text takes one
// rule everywhere: these characters map one way only, onto the character
// that owns their code; U+0080 and U+F8F0 to U+F8F3 have no code.
struct OneWay {
    char32_t from;
    char32_t to;
};
constexpr OneWay kOneWay[] = {
    {0x00A2, 0xFFE0}, {0x00A3, 0xFFE1}, {0x00A5, 0x005C}, {0x00AC, 0xFFE2}, {0x2014, 0x2015},
    {0x2016, 0x2225}, {0x203E, 0x007E}, {0x2212, 0xFF0D}, {0x301C, 0xFF5E}, {0x0080, U'?'},
    {0xF8F0, U'?'},   {0xF8F1, U'?'},   {0xF8F2, U'?'},   {0xF8F3, U'?'},
};

char32_t ForShiftJis(char32_t c) {
    if (c > 0xFFFF) {
        return kReplacementChar;  // code page 932 has nothing beyond the BMP
    }
    for (const OneWay& entry : kOneWay) {
        if (entry.from == c) {
            return entry.to;
        }
    }
    return c;
}

// Bytes of the UTF-8 sequence at `bytes` that make up one character or one
// replacement: the lead byte and the continuation bytes that belong to it, or
// could still have belonged to it (the maximal subpart of an ill-formed one).
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
        while (run < static_cast<size_t>(trailing) + 1 && run < left &&
               InRange(bytes[run], 0x80, 0xBF)) {
            ++run;
        }
    }
    return run;
}

// Decodes UTF-8 into code points, one '?' for each ill-formed sequence;
// returns the count.
size_t DecodeUtf8(const unsigned char* bytes, size_t length, char32_t* out) {
    size_t count = 0;
    size_t at = 0;
    while (at < length) {
        const size_t run = Utf8BadRun(bytes + at, length - at);
        const unsigned char lead = bytes[at];
        const size_t whole = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (lead < 0x80) {
            out[count++] = lead;
        } else if (run == whole && whole > 1) {
            char32_t c = lead & (0x7F >> whole);
            for (size_t i = 1; i < whole; ++i) {
                c = (c << 6) | (bytes[at + i] & 0x3F);
            }
            out[count++] = c;
        } else {
            out[count++] = kReplacementChar;
        }
        at += lead < 0x80 ? 1 : run;
    }
    return count;
}

// Writes code points as UTF-8 into `destination`, stopping at the last whole
// character that leaves room for the terminator.
void EncodeUtf8(const char32_t* text, size_t count, char* destination, size_t capacity) {
    size_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        // No Shift-JIS code stands for U+0080, though one platform reads 0x80 so.
        const char32_t c = text[i] == 0x0080 ? kReplacementChar : text[i];
        unsigned char bytes[3];
        size_t size = 0;
        if (c < 0x80) {
            bytes[size++] = static_cast<unsigned char>(c);
        } else if (c < 0x800) {
            bytes[size++] = static_cast<unsigned char>(0xC0 | (c >> 6));
            bytes[size++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else {
            bytes[size++] = static_cast<unsigned char>(0xE0 | (c >> 12));
            bytes[size++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[size++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
        if (used + size > capacity - 1) {
            break;
        }
        std::memcpy(destination + used, bytes, size);
        used += size;
    }
    destination[used] = '\0';
}

// Copies Shift-JIS into `destination`, stopping at the last whole character
// that leaves room for the terminator.
void CopySjis(const char* sjis, size_t length, char* destination, size_t capacity) {
    size_t used = 0;
    while (used < length) {
        const auto lead = static_cast<unsigned char>(sjis[used]);
        const size_t size = IsSjisLeadByte(lead) && used + 1 < length ? 2 : 1;
        if (used + size > capacity - 1) {
            break;
        }
        used += size;
    }
    std::memcpy(destination, sjis, used);
    destination[used] = '\0';
}

// One block for the code points, the platform's 16-bit units and the
// Shift-JIS bytes of a text of `length` bytes; nullptr when it cannot be had.
struct Work {
    char32_t* points;
    char16_t* units;
    char* sjis;
};

bool TakeWork(size_t length, Work* work) {
    const size_t count = length + 1;
    auto* block =
        static_cast<char*>(MemAlloc(count * (sizeof(char32_t) + sizeof(char16_t)) + 2 * count));
    if (block == nullptr) {
        return false;
    }
    work->points = reinterpret_cast<char32_t*>(block);
    work->units = reinterpret_cast<char16_t*>(block + count * sizeof(char32_t));
    work->sjis = block + count * (sizeof(char32_t) + sizeof(char16_t));
    return true;
}

}  // namespace

size_t SjisUnreadableRun(const unsigned char* bytes, size_t left) {
    if (IsSjisLeadByte(bytes[0]) && left > 1 &&
        (InRange(bytes[1], 0x40, 0x7E) || InRange(bytes[1], 0x80, 0xFC))) {
        return 2;
    }
    return 1;
}

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
    if (capacity < 1) {
        return 0;  // not even the terminator fits
    }
    length += std::strlen(source + length);
    Work work;
    if (!TakeWork(length, &work)) {
        return kNoConverter;
    }
    const size_t count =
        DecodeUtf8(reinterpret_cast<const unsigned char*>(source), length, work.points);
    for (size_t i = 0; i < count; ++i) {
        work.points[i] = ForShiftJis(work.points[i]);
    }
    const long written = CodePageEncodeSjis(work.points, count, work.sjis, work.units);
    if (written >= 0) {
        CopySjis(work.sjis, static_cast<size_t>(written), destination,
                 static_cast<size_t>(capacity));
    }
    MemFree(work.points);
    return written >= 0 ? 0 : kNoConverter;
}

int SjisToUtf8(const char* source, char* destination, int capacity) {
    if (capacity < 1) {
        return 0;  // not even the terminator fits
    }
    const size_t length = std::strlen(source);
    Work work;
    if (!TakeWork(length, &work)) {
        return kNoConverter;
    }
    const long count = CodePageDecodeSjis(source, length, work.points, work.units);
    if (count >= 0) {
        EncodeUtf8(work.points, static_cast<size_t>(count), destination,
                   static_cast<size_t>(capacity));
    }
    MemFree(work.points);
    return count >= 0 ? 0 : kNoConverter;
}
