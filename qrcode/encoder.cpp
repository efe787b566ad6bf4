// Encoder entry: chooses data mode and version, then runs the stages from bit
// stream to drawn symbol.
#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdio>
#include <cstring>

#include "qrcode/qrcode.h"
#include "zemqrfile.h"

std::atomic<int> HostLittleEndian{-1};

namespace {

bool IsDigit(uint8_t byte) {
    return byte >= '0' && byte <= '9';
}

bool IsAlphanumericLetterOrSymbol(uint8_t byte) {
    return (byte >= 'A' && byte <= 'Z') ||
           (byte != 0 && std::memchr(AlnumSymbols, byte, sizeof AlnumSymbols - 1) != nullptr);
}

// Whether Kanji mode carries the pair so that a reader gets it back. Kanji
// mode packs a code into 13 bits assuming a trail byte of 0x40 or more; a
// lower one borrows from the lead byte and comes back as another character.
bool IsKanjiPair(uint8_t lead, uint8_t trail) {
    return KanjiOffset(lead << 8 | trail) >= 0 && trail >= 0x40;
}

bool IsShiftJisLeadByte(uint8_t byte) {
    return (byte >= 0x80 && byte <= 0x9F) || byte >= 0xE0;
}

// Whether the last of the first count bytes is the lead byte of a Shift-JIS
// double-byte character whose second byte lies beyond count.
bool EndsInsideCharacter(const uint8_t* data, int count) {
    int i = 0;
    while (i < count) {
        i += IsShiftJisLeadByte(data[i]) ? 2 : 1;
    }
    return i > count;
}

// A cut before data[count] moved back to the start of the UTF-8 character it
// falls in. A character has at most three continuation bytes, so malformed
// text moves it no further than that.
int Utf8CharacterStart(const uint8_t* data, int count) {
    constexpr int kMostContinuationBytes = 3;
    for (int back = 0; back < kMostContinuationBytes && (data[count] & 0xC0) == 0x80; ++back) {
        --count;
    }
    return count;
}

}  // namespace

int DetectDataMode(int mode, const uint8_t* data, int byteCount) {
    if (mode >= QR_MODE_NUMERIC && mode <= QR_MODE_KANJI) {
        return mode;
    }
    int dataClass = QR_MODE_NUMERIC;
    for (int i = 0; i < byteCount && dataClass < QR_MODE_EIGHT_BIT; ++i) {
        if (!IsDigit(data[i])) {
            dataClass =
                IsAlphanumericLetterOrSymbol(data[i]) ? QR_MODE_ALPHANUMERIC : QR_MODE_EIGHT_BIT;
        }
    }
    if (byteCount % 2 != 0) {
        return dataClass;
    }
    for (int i = 0; i < byteCount; i += 2) {
        if (!IsKanjiPair(data[i], data[i + 1])) {
            return dataClass;
        }
    }
    return QR_MODE_KANJI;
}

int SelectVersion(const Image* image, int mode, int version, int level, const uint8_t* data,
                  int byteCount, int* count) {
    int chosen = version;
    if (version < 1 || version > kQrMaxVersion) {
        chosen = 1;
        while (chosen < kQrMaxVersion && DataCapacity(mode, chosen, level) < byteCount) {
            ++chosen;
        }
    }
    int encoded = std::min(byteCount, DataCapacity(mode, chosen, level));
    const bool eightBit = mode == QR_MODE_EIGHT_BIT;
    if (eightBit && (image->flags & QR_FLAG_UTF8_TEXT) != 0) {
        if (encoded < byteCount) {
            encoded = Utf8CharacterStart(data, encoded);
        }
    } else if (eightBit && (image->flags & IMAGEFLAG_TEXT) != 0 &&
               EndsInsideCharacter(data, encoded)) {
        if (version == 0 && chosen < kQrMaxVersion) {
            ++chosen;
        } else {
            --encoded;
        }
    }
    if (count != nullptr) {
        *count = encoded;
    }
    return chosen;
}

int EncodeSymbol(Image* image, int mode, int version, int level, const uint8_t* data, int count) {
    assert(mode >= QR_MODE_NUMERIC && mode <= QR_MODE_KANJI);
    assert(version >= 1 && version <= kQrMaxVersion && level >= QR_LEVEL_L && level <= QR_LEVEL_H);
    uint8_t dataCodewords[kCodewordBufferSize] = {};
    uint8_t ecCodewords[kCodewordBufferSize] = {};
    int position = PutModeIndicator(dataCodewords, 0, mode);
    position = PutCharCount(dataCodewords, position, mode, version, count);
    const int dataCount =
        (PutData(dataCodewords, position, mode, version, level, data, count) + 7) / 8;
    const int ecCount = MakeErrorCorrection(dataCodewords, ecCodewords, version, level);
    InterleaveCodewords(dataCodewords, ecCodewords, version, level);
    if ((image->flags & IMAGEFLAG_VERBOSE) != 0) {
        std::printf("[QRCode] #of Print  Data bytes  =%d\n", dataCount);
        std::printf("[QRCode] #of Error  Col. bytes  =%d\n", ecCount);
    }
    return BuildSymbol(image, dataCodewords, dataCount, ecCodewords, ecCount, mode, version, level);
}

int QRCode(uint32_t flags, Image* image, int x, int y, int mode, int version, int level,
           const uint8_t* data, int byteCount) {
    image->flags = flags;
    if (HostLittleEndian.load() < 0) {
        HostLittleEndian.store(std::endian::native == std::endian::little ? 1 : 0);
    }
    static const uint8_t kNoMessage[1] = {0};
    if (data == nullptr) {
        data = kNoMessage;
    }
    // A negative count would reach the count indicator as a huge number.
    if (byteCount <= 0) {
        byteCount = static_cast<int>(std::strlen(reinterpret_cast<const char*>(data)));
    }
    // Levels index four-entry tables; the file operation clamps them the same way.
    level = std::clamp(level, QR_LEVEL_L, QR_LEVEL_H);

    mode = DetectDataMode(mode, data, byteCount);
    int count = 0;
    version = SelectVersion(image, mode, version, level, data, byteCount, &count);
    const bool verbose = (flags & IMAGEFLAG_VERBOSE) != 0;
    if (verbose) {
        std::printf("[QRCode] Data Mode              =%d\n", mode);
        std::printf("[QRCode] Version#               =%d\n", version);
        std::printf("[QRCode] Error Collection Level =%d\n", level);
        std::printf("[QRCode] #of Input  Data bytes  =%d\n", byteCount);
        std::printf("[QRCode] #of Output Data bytes  =%d\n", count);
    }

    const int built = EncodeSymbol(image, mode, version, level, data, count);
    if (built < 0) {
        return built;
    }
    return DrawSymbol(flags, image, x, y);
}
