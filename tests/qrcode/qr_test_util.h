// Test helpers for the QR encoder: building a module matrix without drawing
// it, decoding the matrix with zxing-cpp, and a reader of its own that checks
// a matrix against the symbol rules (format and version BCH codes, function
// patterns, Reed-Solomon syndromes) and returns the data codewords.
#pragma once

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"

// Runs the encoder's stages up to and including BuildSymbol on a zeroed
// Image; the planes stay in image until FreeSymbolMatrix.
struct EncodedMatrix {
    int result = 0;  // of BuildSymbol
    int mode = 0;
    int version = 0;
    int count = 0;              // message bytes encoded
    std::vector<uint8_t> data;  // data codewords in block order
};
EncodedMatrix EncodeMatrix(Image* image, int mode, int version, int level, int maskPattern,
                           const std::string& message, uint32_t flags = 0);

// QRCode on a fresh white canvas of the file operation's size (185 × cell +
// 2 pixels square); result is QRCode's, decoded zxing-cpp's reading of the canvas.
struct QrCodeRun {
    int result = 0;
    std::optional<std::string> decoded;
};
QrCodeRun RunQrCode(uint32_t flags, int mode, int version, int level, int maskPattern,
                    const std::string& message, int cellSize = 2);

// zxing-cpp's reading of the modules plane, drawn with a four-module quiet zone.
std::optional<std::string> DecodeModules(const Image* image);

struct StandardReading {
    std::string failure;  // empty when every check passed
    int level = 0;
    int mask = 0;
    std::vector<uint8_t> data;  // data codewords in block order
};
StandardReading ReadByStandard(const Image* image);

std::string Bytes(std::initializer_list<int> values);

// length message bytes of one data mode (QR_MODE_NUMERIC to QR_MODE_KANJI:
// Shift-JIS characters of both lead ranges, cut to length), drawn from random.
// Byte messages hold no NUL. Golden digests depend on every byte drawn.
std::string RandomMessage(std::mt19937& random, int mode, int length);
