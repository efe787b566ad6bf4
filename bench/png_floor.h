// The floor under our PNG files: libpng alone, with the settings ImageWritePng
// uses (RGB, bit depth 8, no interlacing, zlib level 9, libpng's default
// filters, one png_write_row per row), writing top-down RGB rows from one
// buffer. Nothing of ours runs in it.
#pragma once

#include <cstdint>

// 0 on success, -1 when the file cannot be opened, -2 when libpng fails.
int WritePngWithLibpng(const char* fileName, const uint8_t* rgbRows, int width, int height);
