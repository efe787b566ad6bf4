// The data bit stream: mode indicator, character count, the message in its
// mode, terminator and pad codewords.
#include <bit>
#include <cassert>
#include <cstring>

#include "qrcode/qrcode.h"

namespace {

constexpr uint8_t kModeIndicators[4] = {0x1, 0x2, 0x4, 0x8};
constexpr int kNumericGroupBits[4] = {0, 4, 7, 10};
constexpr int kSpaceValue = 36;
constexpr int kTerminatorBits = 4;
constexpr uint8_t kPadCodewords[2] = {0xEC, 0x11};

// Writes the low `width` bits of value, most significant first.
int PutValue(uint8_t* buffer, int position, int value, int width) {
    const uint16_t image = ToBigEndian16(static_cast<uint16_t>(value));
    PutBits(buffer, position, reinterpret_cast<const uint8_t*>(&image), 16 - width, width);
    return position + width;
}

// The decimal value of the leading digits of a group; other bytes end it.
// Signs and blanks are not read, so a group never exceeds its digit count
// and never reaches beyond itself.
int NumericGroupValue(const uint8_t* group, int length) {
    int value = 0;
    for (int i = 0; i < length && group[i] >= '0' && group[i] <= '9'; ++i) {
        value = value * 10 + (group[i] - '0');
    }
    return value;
}

// Lower-case letters count as capitals and anything else outside the 45
// characters as a space.
int AlphanumericValue(uint8_t byte) {
    if (byte >= '0' && byte <= '9') {
        return byte - '0';
    }
    if (byte >= 'A' && byte <= 'Z') {
        return byte - 'A' + 10;
    }
    if (byte >= 'a' && byte <= 'z') {
        return byte - 'a' + 10;
    }
    const void* symbol =
        byte != 0 ? std::memchr(AlnumSymbols, byte, sizeof AlnumSymbols - 1) : nullptr;
    return symbol != nullptr
               ? kSpaceValue + static_cast<int>(static_cast<const char*>(symbol) - AlnumSymbols)
               : kSpaceValue;
}

}  // namespace

uint16_t ToBigEndian16(uint16_t value) {
    int littleEndian = HostLittleEndian.load(std::memory_order_relaxed);
    if (littleEndian < 0) {  // writers used before the first QRCode call
        littleEndian = std::endian::native == std::endian::little ? 1 : 0;
    }
    return littleEndian != 0 ? static_cast<uint16_t>(value >> 8 | value << 8) : value;
}

void PutBits(uint8_t* destination, int destinationPosition, const uint8_t* source,
             int sourcePosition, int count) {
    // Up to eight bits a step: as many as are left in the destination byte.
    while (count > 0) {
        const int to = destinationPosition % 8;
        const int from = sourcePosition % 8;
        const int take = count < 8 - to ? count : 8 - to;
        const uint8_t* in = source + sourcePosition / 8;
        // The source bits as the top of a 16-bit window; the second byte is
        // read only when the bits reach into it.
        const unsigned window = in[0] << 8 | (from + take > 8 ? in[1] : 0);
        const unsigned bits = (window >> (16 - from - take)) & ((1u << take) - 1);
        const int shift = 8 - to - take;
        const auto mask = static_cast<uint8_t>(((1u << take) - 1) << shift);
        uint8_t* out = destination + destinationPosition / 8;
        *out = static_cast<uint8_t>((*out & ~mask) | (bits << shift));
        destinationPosition += take;
        sourcePosition += take;
        count -= take;
    }
}

int PutModeIndicator(uint8_t* buffer, int position, int mode) {
    assert(mode >= QR_MODE_NUMERIC && mode <= QR_MODE_KANJI);
    PutBits(buffer, position, &kModeIndicators[mode - 1], 4, 4);
    return position + 4;
}

int PutCharCount(uint8_t* buffer, int position, int mode, int version, int count) {
    const int characters = mode == QR_MODE_KANJI ? count / 2 : count;
    return PutValue(buffer, position, characters, CharCountBits(mode, version));
}

int PutNumeric(uint8_t* buffer, int position, const uint8_t* data, int count) {
    for (int i = 0; i < count; i += 3) {
        const int length = count - i < 3 ? count - i : 3;
        position = PutValue(buffer, position, NumericGroupValue(data + i, length),
                            kNumericGroupBits[length]);
    }
    return position;
}

int PutAlphanumeric(uint8_t* buffer, int position, const uint8_t* data, int count) {
    int i = 0;
    for (; i + 1 < count; i += 2) {
        const int pair = 45 * AlphanumericValue(data[i]) + AlphanumericValue(data[i + 1]);
        position = PutValue(buffer, position, pair, 11);
    }
    if (i < count) {
        position = PutValue(buffer, position, AlphanumericValue(data[i]), 6);
    }
    return position;
}

int PutEightBit(uint8_t* buffer, int position, const uint8_t* data, int count) {
    PutBits(buffer, position, data, 0, count * 8);
    return position + count * 8;
}

int PutKanji(uint8_t* buffer, int position, const uint8_t* data, int count) {
    for (int i = 0; i + 1 < count; i += 2) {
        const int pair = data[i] << 8 | data[i + 1];
        const int offset = KanjiOffset(pair);
        const int code = offset >= 0 ? pair - offset : 0;
        position = PutValue(buffer, position, (code >> 8) * 0xC0 + (code & 0xFF), 13);
    }
    return position;
}

int PutData(uint8_t* buffer, int position, int mode, int version, int level, const uint8_t* data,
            int count) {
    switch (mode) {
        case QR_MODE_NUMERIC:
            position = PutNumeric(buffer, position, data, count);
            break;
        case QR_MODE_ALPHANUMERIC:
            position = PutAlphanumeric(buffer, position, data, count);
            break;
        case QR_MODE_KANJI:
            position = PutKanji(buffer, position, data, count);
            break;
        default:
            position = PutEightBit(buffer, position, data, count);
            break;
    }
    assert(level >= QR_LEVEL_L && level <= QR_LEVEL_H);
    const int dataCodewords =
        TotalCodewords(version) - VersionParamTable[version - 1].ecTotal[level - 1];
    assert(position <= dataCodewords * 8);  // the count was cut to the capacity
    // Terminator and the bits up to the byte boundary are already zero; a
    // terminator that does not fit is cut short.
    int pad = 0;
    for (int i = (position + kTerminatorBits + 7) / 8; i < dataCodewords; ++i) {
        buffer[i] = kPadCodewords[pad];
        pad ^= 1;
    }
    return dataCodewords * 8;
}
