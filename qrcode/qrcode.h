// QR encoder: turns message bytes into one QR Code symbol (Model 2, versions 1
// to 40, one segment) and draws it with its quiet zone into an Image.
//
// Numbering used throughout: data mode 1 numeric, 2 alphanumeric, 3 8-bit
// byte, 4 Kanji (0 = automatic in a request); level 1 L, 2 M, 3 Q, 4 H;
// mask references 0 to 7 (callers ask for 1 to 8 through Image::maskPattern).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "image/image.h"

constexpr int QR_MODE_NUMERIC = 1;
constexpr int QR_MODE_ALPHANUMERIC = 2;
constexpr int QR_MODE_EIGHT_BIT = 3;
constexpr int QR_MODE_KANJI = 4;

constexpr int QR_LEVEL_L = 1;
constexpr int QR_LEVEL_M = 2;
constexpr int QR_LEVEL_Q = 3;
constexpr int QR_LEVEL_H = 4;

constexpr int kQrMaxVersion = 40;
constexpr int kQrMaxModules = 4 * kQrMaxVersion + 17;
// Size of each of the two codeword buffers; version 40 has 3706 codewords.
constexpr int kCodewordBufferSize = 4096;

// The encoder's result codes.
constexpr int QR_ERR_MODULES = -21;       // module plane cannot be allocated
constexpr int QR_ERR_MODULE_KINDS = -22;  // kind plane cannot be allocated
constexpr int QR_ERR_PICTURE = -31;       // symbol picture cannot be created
constexpr int QR_ERR_FILL = -32;          // filling the drawn area failed
constexpr int QR_ERR_PASTE = -33;         // copying the symbol into the target failed

// Encoder flag beside the public IMAGEFLAG_* bits, which a caller's flags are
// masked to: the message is UTF-8 text, so a cut to the capacity never splits
// a UTF-8 character, and IMAGEFLAG_TEXT's Shift-JIS rule does not apply.
constexpr uint32_t QR_FLAG_UTF8_TEXT = 0x00100000;

// ---- Entry -----------------------------------------------------------------

// Encodes byteCount bytes of data (0 or less: up to the first NUL) and draws
// the symbol with its quiet zone at (x, y) of image, whose cellSize and
// maskPattern are set. mode and version outside 1-4 and 1-40 mean automatic
// choice; level is brought into 1-4. A message too long for the symbol is cut.
// Returns the side in pixels of the square drawn, or a negative code above.
int QRCode(uint32_t flags, Image* image, int x, int y, int mode, int version, int level,
           const uint8_t* data, int byteCount);

// The middle of QRCode: count message bytes in the chosen mode, version and
// level become the codewords and the masked matrix in image (with the
// codeword trace lines when image->flags asks for them). Returns 0, or -21
// or -22 from BuildSymbol.
int EncodeSymbol(Image* image, int mode, int version, int level, const uint8_t* data, int count);

// ---- Symbol parameters -----------------------------------------------------

struct VersionParams {
    // Alignment pattern centres; 0 marks an empty slot. Versions 2 to 6 hold
    // only their one centre (not the leading 6), version 1 none.
    int32_t alignment[7];
    int32_t total;  // total codewords
    // The fields below are indexed by level - 1 (L, M, Q, H).
    int32_t ecTotal[4];     // error correction codewords of the symbol
    int32_t blocks1[4];     // blocks in group 1
    int32_t blocks2[4];     // blocks in group 2 (0: no second group)
    int32_t codewords1[4];  // codewords per group 1 block
    int32_t codewords2[4];  // codewords per group 2 block
    int32_t data1[4];       // data codewords per group 1 block
    int32_t data2[4];       // data codewords per group 2 block
};
static_assert(sizeof(VersionParams) == 36 * sizeof(int32_t));

// One record per version, version 1 first; built by the compiler from the
// block counts and error correction codewords per block of each version
// and level, and from the geometry of the symbol.
extern const std::array<VersionParams, kQrMaxVersion> VersionParamTable;

// Alignment centres a record holds: none for version 1, the one centre for
// versions 2 to 6, from version 7 on the whole row of coordinates.
constexpr int AlignmentCentreCount(int version) {
    return version == 1 ? 0 : (version < 7 ? 1 : version / 7 + 2);
}

// The nine alphanumeric characters besides digits and capitals, valued 36-44.
constexpr char AlnumSymbols[] = " $%*+-./:";

// Kanji mode carries the Shift-JIS codes of two ranges, each packed into 13
// bits after taking off its offset. The offset of code's range, or -1.
constexpr int KanjiOffset(int code) {
    if (code >= 0x8140 && code <= 0x9FFC) {
        return 0x8140;
    }
    if (code >= 0xE040 && code <= 0xEBBF) {
        return 0xC140;
    }
    return -1;
}

// Process-wide: -1 until the first QRCode call, then 1 on a little-endian
// host, 0 otherwise.
extern std::atomic<int> HostLittleEndian;

// Width in bits of the character-count indicator.
int CharCountBits(int mode, int version);
// Total codewords of a version, from the geometry of its symbol.
int TotalCodewords(int version);
// Message bytes that fit a symbol in the mode (a Kanji character is 2 bytes).
int DataCapacity(int mode, int version, int level);

// The data mode to use: the requested one if it is 1 to 4, else the smallest
// mode that carries every byte.
int DetectDataMode(int mode, const uint8_t* data, int byteCount);
// The version to use (the requested one if it is 1 to 40, else the smallest
// that holds the message) and, through count, the bytes that will be encoded:
// in 8-bit mode a cut ends on a whole character of UTF-8 text
// (QR_FLAG_UTF8_TEXT) or of Shift-JIS text (IMAGEFLAG_TEXT).
int SelectVersion(const Image* image, int mode, int version, int level, const uint8_t* data,
                  int byteCount, int* count);

// ---- Data bit stream -------------------------------------------------------
// Bit n of a buffer is bit 7 - n % 8 of byte n / 8. Each writer takes the
// next bit position and returns the new one.

// The bytes of a 16-bit value with the most significant one first in memory.
uint16_t ToBigEndian16(uint16_t value);
void PutBits(uint8_t* destination, int destinationPosition, const uint8_t* source,
             int sourcePosition, int count);
int PutModeIndicator(uint8_t* buffer, int position, int mode);
int PutCharCount(uint8_t* buffer, int position, int mode, int version, int count);
int PutNumeric(uint8_t* buffer, int position, const uint8_t* data, int count);
int PutAlphanumeric(uint8_t* buffer, int position, const uint8_t* data, int count);
int PutEightBit(uint8_t* buffer, int position, const uint8_t* data, int count);
int PutKanji(uint8_t* buffer, int position, const uint8_t* data, int count);
// Writes the data in the mode, then pad codewords up to the data capacity of
// the version and level (the buffer must be clear). Returns data codewords × 8.
int PutData(uint8_t* buffer, int position, int mode, int version, int level, const uint8_t* data,
            int count);

// ---- Reed-Solomon error correction -----------------------------------------

// GF(256) over x^8 + x^4 + x^3 + x^2 + 1: GfExp[i] = 2^i, GfLog its inverse.
extern const std::array<uint8_t, 256> GfExp;
extern const std::array<uint8_t, 256> GfLog;
// GeneratorPolynomials[e]: the exponents of the coefficients of
// (x - 2^0)...(x - 2^(e-1)) below the leading 1, from x^(e-1) down to x^0.
constexpr int kMaxEcPerBlock = 30;
extern const std::array<std::array<uint8_t, kMaxEcPerBlock>, kMaxEcPerBlock + 1>
    GeneratorPolynomials;

// Divides the k data codewords at the start of work (followed by e zeros) by
// the generator of degree e; leaves the remainder in work[0..e-1].
void RsRemainder(uint8_t* work, int k, int e);
// Writes every block's error correction codewords to ec, block after block;
// returns how many.
int MakeErrorCorrection(const uint8_t* data, uint8_t* ec, int version, int level);
// Rewrites both buffers from block order into the symbol's interleaved order.
void InterleaveCodewords(uint8_t* data, uint8_t* ec, int version, int level);

// ---- Symbol matrix ---------------------------------------------------------

// Kinds of module in Image::moduleKinds.
constexpr uint8_t KIND_FREE = 0;            // open for codeword bits; afterwards a remainder
constexpr uint8_t KIND_FUNCTION_DARK = 1;   // dark function module
constexpr uint8_t KIND_FUNCTION_LIGHT = 2;  // light function module or reserved area
constexpr uint8_t KIND_DATA_DARK = 3;       // carries a 1 bit before masking
constexpr uint8_t KIND_DATA_LIGHT = 4;      // carries a 0 bit before masking

// The symbol stage: allocates image->modules/moduleKinds, places the
// function patterns and reserves the information areas, places the
// codewords, chooses and applies the mask, and writes the format and version
// information. 0, or -21 / -22 with nothing left allocated.
int BuildSymbol(Image* image, const uint8_t* dataCodewords, int dataCount,
                const uint8_t* ecCodewords, int ecCount, int mode, int version, int level);
// Releases both module planes and clears their fields.
void FreeSymbolMatrix(Image* image);

// ---- Masking ---------------------------------------------------------------

// Whether mask reference `mask` (0-7) inverts the module at row i, column j.
constexpr bool MaskInverts(int mask, int i, int j) {
    switch (mask) {
        case 0:
            return (i + j) % 2 == 0;
        case 1:
            return i % 2 == 0;
        case 2:
            return j % 3 == 0;
        case 3:
            return (i + j) % 3 == 0;
        case 4:
            return (i / 2 + j / 3) % 2 == 0;
        case 5:
            return (i * j) % 2 + (i * j) % 3 == 0;
        case 6:
            return ((i * j) % 2 + (i * j) % 3) % 2 == 0;
        default:
            return ((i + j) % 2 + (i * j) % 3) % 2 == 0;
    }
}

constexpr int kMaskCount = 8;
// Every mask pattern repeats after 12 rows and 6 columns.
constexpr int kMaskRowPeriod = 12;
constexpr int kMaskColumnPeriod = 6;
static_assert([] {
    for (int mask = 0; mask < kMaskCount; ++mask) {
        for (int i = 0; i < 2 * kMaskRowPeriod; ++i) {
            for (int j = 0; j < 2 * kMaskRowPeriod; ++j) {
                if (MaskInverts(mask, i, j) !=
                    MaskInverts(mask, i % kMaskRowPeriod, j % kMaskColumnPeriod)) {
                    return false;
                }
            }
        }
    }
    return true;
}());

// The requested mask reference (image->maskPattern 1-8 asks for 0-7), or the
// one of the eight with the lowest penalty; traced when verbose.
int SelectMask(const Image* image, int level);
// Recomputes every data module from its kind under mask reference mask.
void ApplyMask(Image* image, int mask);
// Penalty score of the current module plane; lower is better.
int MaskPenalty(const Image* image);
// The penalty of the placed but unmasked symbol under each mask reference,
// as ApplyMask and PutFormatInfo would leave it; the planes are not changed.
void ScoreMasks(const Image* image, int level, int scores[kMaskCount]);

// ---- Format and version information ----------------------------------------

// The 15-bit format information word for a mask reference and level.
int FormatInfoWord(int mask, int level);
// Where bit `bit` (0 = least significant) of the format information goes in
// a symbol of n modules: (rows[0], columns[0]) and (rows[1], columns[1]).
void FormatInfoModules(int n, int bit, int rows[2], int columns[2]);
// Both copies of the 15-bit format information for a mask reference (0-7).
void PutFormatInfo(Image* image, int mask, int level);
// Both copies of the 18-bit version information; nothing below version 7.
void PutVersionInfo(Image* image, int version);

// ---- Rendering -------------------------------------------------------------

// Draws the symbol, cellSize pixels a module, inside a light quiet zone at
// (x, y) of image (rows counted from the bottom line, or from the top with
// IMAGE_FROM_TOP in flags), clipped at the image's edges as a fill of the
// square and a paste of the symbol into it would be; each pixel is written
// once, straight into image. Releases the module planes on every path and
// returns the side of the drawn square, or: -31 for a side beyond an int, or
// when the extra-verbose picture for "qr.png" cannot be had; -32 or -33 when
// a spill file fails a quiet zone line or a symbol line; -33 for an image
// that is not 3 bytes a pixel. An in-memory colour image needs no memory.
int DrawSymbol(uint32_t flags, Image* image, int x, int y);
