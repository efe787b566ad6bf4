// Code page 932 through glibc's iconv, one text at a time; iconv stops at
// each character it cannot convert, which is replaced and stepped over.
#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "charcode/charcode.h"
#include "charcode/codepage.h"

extern const int kPlatformCharCode = CHARCODE_UTF8;

namespace {

constexpr const char kShiftJis[] = "CP932";
constexpr const char* kUtf32 = std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE";

const iconv_t kFailed = reinterpret_cast<iconv_t>(-1);

}  // namespace

long CodePageEncodeSjis(const char32_t* text, size_t count, char* out, char16_t*) {
    const iconv_t encoder = iconv_open(kShiftJis, kUtf32);
    if (encoder == kFailed) {
        return -1;
    }
    char* in = reinterpret_cast<char*>(const_cast<char32_t*>(text));
    size_t inLeft = count * sizeof(char32_t);
    char* next = out;
    size_t outLeft = 2 * count;
    while (inLeft > 0) {
        if (iconv(encoder, &in, &inLeft, &next, &outLeft) != static_cast<size_t>(-1)) {
            break;
        }
        if (errno != EILSEQ || outLeft == 0) {
            break;  // cannot happen: no character takes more than two bytes
        }
        *next++ = '?';
        --outLeft;
        in += sizeof(char32_t);
        inLeft -= sizeof(char32_t);
    }
    iconv_close(encoder);
    return next - out;
}

long CodePageDecodeSjis(const char* bytes, size_t length, char32_t* out, char16_t*) {
    const iconv_t decoder = iconv_open(kUtf32, kShiftJis);
    if (decoder == kFailed) {
        return -1;
    }
    char* in = const_cast<char*>(bytes);
    size_t inLeft = length;
    char* next = reinterpret_cast<char*>(out);
    size_t outLeft = length * sizeof(char32_t);
    while (inLeft > 0) {
        if (iconv(decoder, &in, &inLeft, &next, &outLeft) != static_cast<size_t>(-1)) {
            break;
        }
        if (errno == E2BIG) {
            break;  // cannot happen: every byte yields at most one character
        }
        // EILSEQ, or EINVAL for a character cut off by the end of the text.
        const size_t skip = SjisUnreadableRun(reinterpret_cast<const unsigned char*>(in), inLeft);
        const char32_t replacement = kReplacementChar;
        std::memcpy(next, &replacement, sizeof replacement);
        next += sizeof replacement;
        outLeft -= sizeof replacement;
        in += skip;
        inLeft -= skip;
    }
    iconv_close(decoder);
    return (next - reinterpret_cast<char*>(out)) / static_cast<long>(sizeof(char32_t));
}
