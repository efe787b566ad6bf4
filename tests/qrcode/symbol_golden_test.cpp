// Symbol-for-symbol comparison against recorded digests: a few hundred
// messages over every mode, version, level and mask choice, each recorded as
// its parameters, the chosen version and mask, and hashes of the module
// matrix and of the drawn pixels. Any change to the encoder or renderer that
// alters a single module or pixel shows up here.
//
// To record the digests afresh (only when the output is meant to change):
//   zem_tests --gtest_also_run_disabled_tests
//             --gtest_filter=SymbolGoldenTest.DISABLED_Record
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>

#include "qrcode/qrcode.h"
#include "tests/qrcode/qr_test_util.h"
#include "tests/support/test_support.h"
#include "zemqrfile.h"

namespace {

constexpr int kCases = 480;
constexpr char kDigestFile[] = ZEM_TEST_SOURCE_DIR "/qrcode/data/symbol_digests.txt";

uint64_t Fnv1a(const uint8_t* bytes, size_t count, uint64_t hash = 14695981039346656037ull) {
    for (size_t i = 0; i < count; ++i) {
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    }
    return hash;
}

// Message bytes of one data class (1 numeric to 4 Kanji), from a fixed
// generator so that every run sees the same messages.
std::string MakeMessage(std::mt19937& random, int dataClass, int length) {
    static constexpr char kAlnum[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ $%*+-./:";
    std::string message;
    while (static_cast<int>(message.size()) < length) {
        const uint32_t r = random();
        switch (dataClass) {
            case QR_MODE_NUMERIC:
                message += static_cast<char>('0' + r % 10);
                break;
            case QR_MODE_ALPHANUMERIC:
                message += kAlnum[r % 45];
                break;
            case QR_MODE_EIGHT_BIT:
                message += static_cast<char>(1 + r % 255);
                break;
            default: {
                // Lead bytes of both Kanji ranges, trail bytes 0x40-0xFC but 0x7F.
                const int lead = r % 2 == 0 ? 0x81 + (r >> 1) % 31 : 0xE0 + (r >> 1) % 11;
                int trail = 0x40 + (r >> 8) % 188;
                trail += trail >= 0x7F ? 1 : 0;
                message += static_cast<char>(lead);
                message += static_cast<char>(trail);
            }
        }
    }
    message.resize(static_cast<size_t>(length));
    return message;
}

// The mask reference carried by the first copy of the format information.
int MaskFromFormatInfo(const Image* image) {
    const int n = image->moduleCount;
    auto at = [&](int row, int column) { return image->modules[row * n + column]; };
    int word = 0;
    for (int i = 0; i < 15; ++i) {
        int bit = 0;
        if (i < 6) {
            bit = at(i, 8);
        } else if (i == 6) {
            bit = at(7, 8);
        } else if (i == 7) {
            bit = at(8, 8);
        } else if (i == 8) {
            bit = at(8, 7);
        } else {
            bit = at(8, 14 - i);
        }
        word |= bit << i;
    }
    return ((word ^ 0x5412) >> 10) & 7;
}

// One digest line for case k.
std::string DigestCase(int k) {
    std::mt19937 random(static_cast<uint32_t>(k) * 2654435761u + 1);
    const int requestedMode = k % 5;  // 0: automatic
    const int dataClass = requestedMode == 0 ? 1 + static_cast<int>(random() % 4) : requestedMode;
    const int level = 1 + (k / 5) % 4;
    const int requestedVersion = (k * 7) % 41;  // 0: automatic
    const int maskPattern = k % 3 == 0 ? 1 + (k / 3) % 8 : 0;
    const uint32_t flags = k % 11 == 3 ? IMAGEFLAG_TEXT : 0;
    const int cell = 1 + k % 3;
    // Sized for a target version, a little past its capacity now and then
    // so that the cut to capacity is covered as well.
    const int target =
        requestedVersion != 0 ? requestedVersion : 1 + static_cast<int>(random() % 40);
    const int capacity = DataCapacity(dataClass, target, level);
    const int below = target > 1 ? DataCapacity(dataClass, target - 1, level) : 0;
    int length =
        below + 1 + static_cast<int>(random() % static_cast<uint32_t>(capacity - below + 8));
    length = std::max(1, length);
    const std::string message = MakeMessage(random, dataClass, length);

    const int side = (4 * kQrMaxVersion + 17 + 8) * cell + 2;
    Image* image = ImageCreate(0, side, side, 3, 0, 0, nullptr);
    if (image == nullptr) {
        return "no image";
    }
    image->cellSize = cell;
    const EncodedMatrix encoded =
        EncodeMatrix(image, requestedMode, requestedVersion, level, maskPattern, message, flags);
    const int n = image->moduleCount;
    const uint64_t matrixHash = Fnv1a(image->modules, static_cast<size_t>(n) * n);
    const int mask = MaskFromFormatInfo(image);
    const int drawn = DrawSymbol(flags, image, 0, 0);
    uint64_t pixelHash = 0;
    if (drawn > 0) {
        pixelHash = 14695981039346656037ull;
        for (int row = 0; row < drawn; ++row) {
            pixelHash = Fnv1a(image->pixels + ImagePixelOffset(0, image, 0, row),
                              static_cast<size_t>(drawn) * 3, pixelHash);
        }
    }
    ImageFree(image);

    char line[200];
    std::snprintf(line, sizeof line, "%d %d %d %d %d %u %d %d %016llx %d %d %d %d %016llx %016llx",
                  k, requestedMode, requestedVersion, level, maskPattern, flags, cell, length,
                  static_cast<unsigned long long>(
                      Fnv1a(reinterpret_cast<const uint8_t*>(message.data()), message.size())),
                  encoded.mode, encoded.version, encoded.count, mask,
                  static_cast<unsigned long long>(matrixHash),
                  static_cast<unsigned long long>(pixelHash));
    return std::string(line) + (drawn > 0 ? "" : " draw-failed");
}

std::string DigestAll() {
    std::string all =
        "# case mode version level maskPattern flags cell length messageHash | mode version "
        "count mask matrixHash pixelHash\n";
    for (int k = 0; k < kCases; ++k) {
        all += DigestCase(k) + "\n";
    }
    return all;
}

TEST(SymbolGoldenTest, SymbolsMatchRecordedDigests) {
    const auto recorded = ReadWholeFile(kDigestFile);
    ASSERT_TRUE(recorded.has_value()) << kDigestFile;
    std::istringstream expected(*recorded);
    std::istringstream actual(DigestAll());
    std::string want;
    std::string got;
    int mismatches = 0;
    while (std::getline(expected, want)) {
        ASSERT_TRUE(std::getline(actual, got)) << "fewer cases than recorded";
        if (got != want && ++mismatches <= 10) {
            ADD_FAILURE() << "recorded: " << want << "\nnow:      " << got;
        }
    }
    EXPECT_FALSE(std::getline(actual, got)) << "more cases than recorded";
    EXPECT_EQ(mismatches, 0);
}

TEST(SymbolGoldenTest, DISABLED_Record) {
    std::FILE* file = std::fopen(kDigestFile, "wb");
    ASSERT_NE(file, nullptr);
    const std::string all = DigestAll();
    EXPECT_EQ(std::fwrite(all.data(), 1, all.size(), file), all.size());
    EXPECT_EQ(std::fclose(file), 0);
}

}  // namespace
