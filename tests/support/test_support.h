// Helpers shared by the tests: scratch directories and independent QR decoders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "image/image.h"

// A fresh directory under /tmp that the test process works in (the process
// changes into it) and that is removed with everything in it at the end.
struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path;
    std::string previous;
};

// Decodes the one QR Code in a top-down 8-bit grey buffer with zxing-cpp and
// returns its raw bytes (Shift-JIS bytes for Kanji mode), or nullopt.
std::optional<std::string> DecodeQrGrey(const uint8_t* grey, int width, int height);

// The same for an Image (1 or 3 channels, rows bottom-up as stored).
std::optional<std::string> DecodeQrImage(const Image* image);

// Decodes an image file (PNG or BMP) with zbar's command-line tool, a second
// independent decoder. Returns the raw bytes of the first symbol, or nullopt.
std::optional<std::string> DecodeQrFileWithZbar(const std::string& path);

// Reads a whole file; nullopt when it cannot be opened.
std::optional<std::string> ReadWholeFile(const std::string& path);
// The same, empty when the file cannot be opened.
std::string FileBytes(const std::string& path);
// Makes the file hold exactly bytes; false when it cannot be written.
bool WriteFile(const std::string& path, const std::string& bytes);
