// Shared pieces of the benchmarks: the messages measured, the encoder's
// stages up to the masked matrix, and the pictures the file writers store.
#pragma once

#include <cstdint>
#include <string>

#include "image/image.h"

// The three messages of the encoder benchmarks.
struct BenchMessage {
    const char* name;
    std::string bytes;
    int level;
};
// "HELLO" at level M (version 1).
BenchMessage HelloMessage();
// 8-bit bytes filling version 10 at level M.
BenchMessage Version10Message();
// 8-bit bytes filling version 40 at level L: 2953 bytes.
BenchMessage Version40Message();
// 8-bit bytes filling the version at level L, no zero byte among them.
std::string FullMessage(int version);

// QRCode's stages from message to masked matrix, in image's module planes
// (to be released with FreeSymbolMatrix). Returns BuildSymbol's result.
int EncodeToMatrix(Image* image, const std::string& message, int level);

// The cropped drawing that ZEMQRFile hands to the writers for a version 40
// symbol of the message at the cell size; nullptr if it cannot be made.
Image* MakeDrawing(const std::string& message, int level, int cellSize);

// A directory for the files the benchmarks write (ZEM_BENCH_DIR, else /tmp).
std::string BenchPath(const char* fileName);
