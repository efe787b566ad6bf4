// The data bit stream: mode indicator, character count, the message in its
// mode, terminator and pad codewords.
#include <bit>
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
    for (int i = 0; i < count; ++i) {
        const int from = sourcePosition + i;
        const int to = destinationPosition + i;
        const auto toMask = static_cast<uint8_t>(0x80 >> (to % 8));
        if ((source[from / 8] & (0x80 >> (from % 8))) != 0) {
            destination[to / 8] |= toMask;
        } else {
            destination[to / 8] &= static_cast<uint8_t>(~toMask);
        }
    }
}

int PutModeIndicator(uint8_t* buffer, int position, int mode) {
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
        int code = data[i] << 8 | data[i + 1];
        if (code >= 0x8140 && code <= 0x9FFC) {
            code -= 0x8140;
        } else if (code >= 0xE040 && code <= 0xEBBF) {
            code -= 0xC140;
        } else {
            code = 0;
        }
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
    const int dataCodewords =
        TotalCodewords(version) - VersionParamTable[version - 1].ecTotal[level - 1];
    // Terminator and the bits up to the byte boundary are already zero; a
    // terminator that does not fit is cut short.
    int pad = 0;
    for (int i = (position + kTerminatorBits + 7) / 8; i < dataCodewords; ++i) {
        buffer[i] = kPadCodewords[pad];
        pad ^= 1;
    }
    return dataCodewords * 8;
}
