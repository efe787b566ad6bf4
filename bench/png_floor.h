// The floor under our PNG files: libpng alone, with the settings ImageWritePng
// uses (RGB, bit depth 8, no interlacing, zlib level 9, libpng's default
// filters, one png_write_row per row), writing top-down RGB rows from one
// buffer. Nothing of ours runs in it. With bit depth 1 the same pixels are
// stored as 1-bit grey (a red byte below 128 is black), as encoders that
// promise no more than black and white do; level is zlib's (-1: its default).
#pragma once

#include <cstdint>

// 0 on success, -1 when the file cannot be opened, -2 when libpng fails.
int WritePngWithLibpng(const char* fileName, const uint8_t* rgbRows, int width, int height,
                       int bitDepth = 8, int level = 9);
