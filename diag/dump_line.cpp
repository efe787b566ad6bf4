// One line of a typed memory dump: header, values, character column.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "diag/diag.h"

namespace {

constexpr int kHeaderWidth = 13;
constexpr int kHeaderBufferSize = 80;  // header plus its trailing spaces, bounded
// A multi-byte character that starts near the end of the line is copied whole
// behind it; the longest the platform character sets have is six bytes.
constexpr int kMaxExtraBytes = 5;

// Bytes per element, indexed by the type code; it divides the line into the
// elements of the index and of the value column.
constexpr int kElementSize[16] = {1, 2, 4, 4, 8, 1, 8, 16, 2, 2, 4, 4, 8, 1, 8, 1};
// Printed width of one value, for the blank of an element cut off by the end
// of the data.
constexpr int kValueWidth[16] = {3, 6, 12, 12, 24, 3, 24, 49, 6, 6, 12, 12, 24, 3, 24, 0};
// The type code of the options word: DUMP_BYTES ... DUMP_CHARS, as an index.
constexpr int TypeIndex(uint32_t options) {
    return static_cast<int>((options >> 12) & 0xF);
}
constexpr int kTypeLongDouble = TypeIndex(DUMP_LONG_DOUBLE);
constexpr int kTypeChars = TypeIndex(DUMP_CHARS);

// The label shrinks as the index grows, so that the header stays 13 wide.
struct HeaderForm {
    long below;
    const char* format;
};
constexpr HeaderForm kHeaderForms[] = {
    {1000, "%-8.8s[%3d]%66s"},      {10000, "%-7.7s[%4d]%66s"},    {100000, "%-6.6s[%5d]%66s"},
    {1000000, "%-5.5s[%6d]%66s"},   {10000000, "%-4.4s[%7d]%66s"}, {100000000, "%-3.3s[%8d]%66s"},
    {LONG_MAX, "%-3.3s[%08d]%66s"},  // the index wraps at 100000000
};

void WriteHeader(char* line, const char* label, long index) {
    char shown[7] = "      ";  // the label's first six characters, padded
    for (int i = 0; label != nullptr && i < 6 && label[i] != 0; ++i) {
        shown[i] = label[i];
    }
    const HeaderForm* form = std::ranges::find_if(kHeaderForms, [index](const HeaderForm& f) {
        return index < f.below || f.below == LONG_MAX;
    });
    std::snprintf(line, kHeaderBufferSize, form->format, shown, static_cast<int>(index % 100000000),
                  "");
}

// A real number as `format` prints it, `width` wide; a NaN with its sign bit
// set shows as "-nan" on every platform (not every C library prints the sign).
template <typename T>
int PrintReal(char* out, size_t room, const char* format, int width, T value) {
    if (std::isnan(value)) {
        return std::snprintf(out, room, "%*s", width, std::signbit(value) ? "-nan" : "nan");
    }
    return std::snprintf(out, room, format, value);
}

template <typename T>
T Load(const unsigned char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);  // dump data need not be aligned
    return value;
}

// Prints the element at `bytes` into `out` (room for `room` bytes) and returns
// the characters written; sets *nonZero for a value other than zero.
int FormatValue(int type, const unsigned char* bytes, char* out, int room, int* nonZero) {
    int printed = 0;
    bool zero = true;
    switch (type) {
        case TypeIndex(DUMP_INT16): {
            const auto v = Load<int16_t>(bytes);
            printed = std::snprintf(out, room, "%6hd", v);
            zero = v == 0;
            break;
        }
        case TypeIndex(DUMP_INT32): {
            const auto v = Load<int32_t>(bytes);
            printed = std::snprintf(out, room, "%12d", v);
            zero = v == 0;
            break;
        }
        case TypeIndex(DUMP_FLOAT): {
            const auto v = Load<float>(bytes);
            printed = PrintReal(out, room, "%12.4e", 12, static_cast<double>(v));
            zero = v == 0;
            break;
        }
        case TypeIndex(DUMP_DOUBLE): {
            const auto v = Load<double>(bytes);
            printed = PrintReal(out, room, "%24.15e", 24, v);
            zero = v == 0;
            break;
        }
        case TypeIndex(DUMP_INT64): {
            const auto v = Load<int64_t>(bytes);
            printed = std::snprintf(out, room, "%24lld", static_cast<long long>(v));
            zero = v == 0;
            break;
        }
        case kTypeLongDouble: {
            // The data holds an 8-byte double; the wide format shows all its digits.
            const auto v = static_cast<long double>(Load<double>(bytes));
            printed = PrintReal(out, room, "%49.40Le", 49, v);
            zero = v == 0;
            break;
        }
        case TypeIndex(DUMP_HEX16):
        case TypeIndex(DUMP_UINT16): {
            const auto v = Load<uint16_t>(bytes);
            printed =
                std::snprintf(out, room, type == TypeIndex(DUMP_HEX16) ? "  %04hx" : "%6hu", v);
            zero = v == 0;
            break;
        }
        case TypeIndex(DUMP_UINT32):
        case TypeIndex(DUMP_HEX32): {
            const auto v = Load<uint32_t>(bytes);
            printed =
                std::snprintf(out, room, type == TypeIndex(DUMP_UINT32) ? "%12u" : "    %08x", v);
            zero = v == 0;
            break;
        }
        case TypeIndex(DUMP_HEX64):
        case TypeIndex(DUMP_UINT64): {
            const auto v = static_cast<unsigned long long>(Load<uint64_t>(bytes));
            printed = type == TypeIndex(DUMP_HEX64) ? std::snprintf(out, room, "%8s%016llx", "", v)
                                                    : std::snprintf(out, room, "%24llu", v);
            zero = v == 0;
            break;
        }
        default:  // DUMP_BYTES, and the unnamed codes 5 and 13
            printed = std::snprintf(out, room, " %02x", bytes[0]);
            zero = bytes[0] == 0;
            break;
    }
    if (!zero) {
        *nonZero = 1;
    }
    return std::clamp(printed, 0, room - 1);
}

// Builds the value column of the line's `count` bytes into `out` (room for
// `room` bytes); returns its length.
int FormatValues(int type, bool wide, const unsigned char* bytes, long count, char* out, int room,
                 int* nonZero) {
    const int size = kElementSize[type];
    const long half = wide ? 10 : 8;
    // The double of the long-double type sits in the first 8 of its 16 bytes.
    const long needed = type == kTypeLongDouble ? 8 : size;
    int used = 0;
    for (long g = 0; g < count; g += size) {
        if (g == half && type != kTypeLongDouble) {
            out[used++] = ' ';
        }
        if (g + needed <= count) {
            used += FormatValue(type, bytes + g, out + used, room - used, nonZero);
            continue;
        }
        // An element cut off by the end of the data: its bytes are not read
        // together, but the line is kept if any of them is set.
        used += std::snprintf(out + used, room - used, "%*s", kValueWidth[type], "");
        if (std::any_of(bytes + g, bytes + count, [](unsigned char b) { return b != 0; })) {
            *nonZero = 1;
        }
    }
    return used;
}

bool Printable(unsigned char b) {
    return b >= 0x20 && b <= 0x7E;
}

// Writes the character column of the line's `count` bytes (`available` bytes
// readable from `bytes`) at `out` and terminates it; returns the carry left for
// the next line.
int FormatCharacters(bool multibyte, const unsigned char* bytes, long count, long available,
                     int carry, char* out) {
    long g = 0;
    while (g < count) {
        const unsigned char b = bytes[g];
        if (carry > 0) {  // already shown at the end of the previous line
            --carry;
            *out++ = '.';
            ++g;
            continue;
        }
        const int extra =
            multibyte ? std::min(CharExtraBytesWithin(reinterpret_cast<const char*>(bytes + g),
                                                      available - g),
                                 kMaxExtraBytes)
                      : 0;
        if (extra == 0) {
            const bool shown = Printable(b) || (multibyte && b >= 0xA1 && b <= 0xDF);
            *out++ = shown ? static_cast<char>(b) : '.';
            ++g;
            continue;
        }
        // The whole character goes here, even the bytes that belong to the
        // next line; that line shows them as '.'.
        std::memcpy(out, bytes + g, static_cast<std::size_t>(extra) + 1);
        out += extra + 1;
        const long onLine = std::min<long>(extra + 1, count - g);
        carry = static_cast<int>(extra + 1 - onLine);
        g += onLine;
    }
    *out = 0;
    return carry;
}

}  // namespace

int FormatDumpLine(uint32_t options, const char* label, const void* data, long length,
                   long* position, int* carry, char* line) {
    const int type = TypeIndex(options);
    const int size = kElementSize[type];
    const bool wide = (options & DUMP_WIDE) != 0 && size <= 2;
    const bool charLine = type == kTypeChars;
    const long perLine = charLine ? (wide ? 100 : 64) : (wide ? 20 : 16);

    const long start = *position;
    const bool inside = start >= 0 && start < length;
    const long count = inside ? std::min(perLine, length - start) : 0;
    const auto* bytes = static_cast<const unsigned char*>(data) + (inside ? start : 0);

    WriteHeader(line, label, std::max(start, 0L) / size);
    int nonZero = charLine ? 1 : 0;
    int column = kHeaderWidth;
    if (!charLine) {
        char values[64];
        const int used = FormatValues(type, wide, bytes, count, values, sizeof values, &nonZero);
        std::memcpy(line + kHeaderWidth, values, static_cast<std::size_t>(used));
        column = wide ? 75 : 63;
        line[column - 1] = ':';
    }
    *carry = FormatCharacters((options & DUMP_MULTIBYTE) != 0, bytes, count,
                              inside ? length - start : 0, std::max(*carry, 0), line + column);
    if (inside) {
        *position = start + count;
    }
    return nonZero;
}
