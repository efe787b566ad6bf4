// Symbol-for-symbol comparison against recorded digests: a few hundred
// messages over every mode, version, level and mask choice, each recorded as
// its parameters, the chosen version and mask, and hashes of the module
// matrix and of the drawn pixels. Any change to the encoder or renderer that
// alters a single module or pixel shows up here. A second file keeps an 8-bit
// digest of each module row, so that a failure can draw the rows that changed.
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
constexpr int kDrawnCases = 3;  // mismatches whose rows are drawn
constexpr char kDigestFile[] = ZEM_TEST_SOURCE_DIR "/qrcode/data/symbol_digests.txt";
constexpr char kRowDigestFile[] = ZEM_TEST_SOURCE_DIR "/qrcode/data/symbol_row_digests.txt";

uint64_t Fnv1a(const uint8_t* bytes, size_t count, uint64_t hash = 14695981039346656037ull) {
    for (size_t i = 0; i < count; ++i) {
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    }
    return hash;
}

struct CaseDigest {
    std::string line;               // of the digest file
    std::string rowDigests;         // two hex digits a module row, top row first
    std::vector<std::string> rows;  // the module rows, '#' dark and '.' light
};

CaseDigest DigestCase(int k) {
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
    const std::string message = RandomMessage(random, dataClass, length);

    const int side = (4 * kQrMaxVersion + 17 + 8) * cell + 2;
    Image* image = ImageCreate(0, side, side, 3, 0, 0, nullptr);
    if (image == nullptr) {
        return {"no image", "", {}};
    }
    image->cellSize = cell;
    const EncodedMatrix encoded =
        EncodeMatrix(image, requestedMode, requestedVersion, level, maskPattern, message, flags);
    const int n = image->moduleCount;
    const uint64_t matrixHash = Fnv1a(image->modules, static_cast<size_t>(n) * n);
    const int mask = ReadByStandard(image).mask;
    CaseDigest digest;
    for (int row = 0; row < n; ++row) {
        const uint8_t* modules = image->modules + static_cast<size_t>(row) * n;
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x",
                      static_cast<unsigned>(Fnv1a(modules, static_cast<size_t>(n)) >> 56));
        digest.rowDigests += hex;
        std::string& text = digest.rows.emplace_back(static_cast<size_t>(n), '.');
        for (int column = 0; column < n; ++column) {
            text[static_cast<size_t>(column)] = modules[column] != 0 ? '#' : '.';
        }
    }
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
    digest.line = std::string(line) + (drawn > 0 ? "" : " draw-failed");
    return digest;
}

std::vector<CaseDigest> DigestAll() {
    std::vector<CaseDigest> all;
    for (int k = 0; k < kCases; ++k) {
        all.push_back(DigestCase(k));
    }
    return all;
}

// A recorded file's lines, its comment lines left out.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] != '#') {
            lines.push_back(line);
        }
    }
    return lines;
}

// The module rows, as they are now, whose digest differs from the recorded
// one; every row when the symbol's size changed.
std::string ChangedRows(const CaseDigest& now, const std::string& recordedLine) {
    const std::string recorded = recordedLine.substr(recordedLine.find(' ') + 1);
    const bool resized = recorded.size() != now.rowDigests.size();
    std::string drawing = resized ? "size changed; the whole symbol now:"
                                  : "module rows that changed, as they are now:";
    for (size_t row = 0; row < now.rows.size(); ++row) {
        if (resized || recorded.compare(2 * row, 2, now.rowDigests, 2 * row, 2) != 0) {
            char label[24];
            std::snprintf(label, sizeof label, "%4zu ", row);
            // Appended piece by piece: g++ 12 at -O3 takes label + row for an
            // overlapping copy (-Wrestrict).
            drawing.append("\n").append(label).append(now.rows[row]);
        }
    }
    return drawing.back() == ':' ? drawing + " none" : drawing;
}

TEST(SymbolGoldenTest, SymbolsMatchRecordedDigests) {
    const auto recorded = ReadWholeFile(kDigestFile);
    const auto recordedRows = ReadWholeFile(kRowDigestFile);
    ASSERT_TRUE(recorded.has_value()) << kDigestFile;
    ASSERT_TRUE(recordedRows.has_value()) << kRowDigestFile;
    const std::vector<std::string> want = Lines(*recorded);
    const std::vector<std::string> wantRows = Lines(*recordedRows);
    ASSERT_EQ(want.size(), static_cast<size_t>(kCases));
    ASSERT_EQ(wantRows.size(), static_cast<size_t>(kCases));
    const std::vector<CaseDigest> got = DigestAll();
    int mismatches = 0;
    for (int k = 0; k < kCases; ++k) {
        if (got[k].line == want[k] || ++mismatches > 10) {
            continue;
        }
        ADD_FAILURE() << "recorded: " << want[k] << "\nnow:      " << got[k].line << "\n"
                      << (mismatches <= kDrawnCases ? ChangedRows(got[k], wantRows[k]) : "");
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(SymbolGoldenTest, DISABLED_Record) {
    std::string digests =
        "# case mode version level maskPattern flags cell length messageHash | mode version "
        "count mask matrixHash pixelHash\n";
    std::string rowDigests = "# case, then 8 bits of each module row's hash, top row first\n";
    for (const CaseDigest& digest : DigestAll()) {
        digests += digest.line + "\n";
        rowDigests += digest.line.substr(0, digest.line.find(' ')) + " " + digest.rowDigests + "\n";
    }
    EXPECT_TRUE(WriteFile(kDigestFile, digests)) << kDigestFile;
    EXPECT_TRUE(WriteFile(kRowDigestFile, rowDigests)) << kRowDigestFile;
}

}  // namespace
