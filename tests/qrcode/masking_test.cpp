#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "qrcode/qrcode.h"
#include "tests/qrcode/qr_test_util.h"
#include "zemqrfile.h"

namespace {

// Penalty of an n × n plane given as rows of '1' (dark) and '0'.
int Penalty(const std::vector<std::string>& rows) {
    const int n = static_cast<int>(rows.size());
    std::vector<uint8_t> modules;
    for (const std::string& row : rows) {
        for (char c : row) {
            modules.push_back(c == '1' ? 1 : 0);
        }
    }
    Image image{};
    image.moduleCount = n;
    image.modules = modules.data();
    return MaskPenalty(&image);
}

std::vector<std::string> Pattern(int n, bool (*dark)(int, int)) {
    std::vector<std::string> rows(static_cast<size_t>(n), std::string(static_cast<size_t>(n), '0'));
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            rows[r][c] = dark(r, c) ? '1' : '0';
        }
    }
    return rows;
}

TEST(MaskPenaltyTest, HandCountedMatrices) {
    // All light 5 × 5: ten runs of 5 (3 each), 16 blocks (3 each), 0 % dark (100).
    EXPECT_EQ(Penalty(Pattern(5, [](int, int) { return false; })), 30 + 48 + 100);
    // A checkerboard scores nothing.
    const auto checker = [](int r, int c) { return (r + c) % 2 == 0; };
    EXPECT_EQ(Penalty(Pattern(10, checker)), 0);
    // Diagonal stripes two dark, three light: 16 light blocks; 39 % dark adds 20.
    auto stripes = Pattern(10, [](int r, int c) { return (r + c) % 5 < 2; });
    stripes[0][0] = '0';
    EXPECT_EQ(Penalty(stripes), 48 + 20);
    // A run of seven dark modules in a checkerboard adds 5.
    auto run = Pattern(11, checker);
    run[5].replace(1, 7, "1111111");
    EXPECT_EQ(Penalty(run), 5);
    // 1011101 from column 0 with four light modules after it adds 40, not
    // when a dark module stands two places after it. The rest is light.
    std::vector<std::string> finder(11, std::string(11, '0'));
    finder[0] = "10111010000";
    const int lightAround = 184 + 279 + 90;  // runs, blocks, 4 % dark
    EXPECT_EQ(Penalty(finder), lightAround + 40);
    finder[0] = "10111010100";
    EXPECT_EQ(Penalty(finder), lightAround - 1 - 6);
}

TEST(MaskTest, MaskDependsOnlyOnTheKinds) {
    Image image{};
    ASSERT_EQ(EncodeMatrix(&image, 0, 3, QR_LEVEL_M, 1, "MASKS").result, 0);
    const size_t cells = static_cast<size_t>(image.moduleCount) * image.moduleCount;
    ApplyMask(&image, 0);
    const std::vector<uint8_t> once(image.modules, image.modules + cells);
    ApplyMask(&image, 1);
    ApplyMask(&image, 0);
    EXPECT_EQ(std::vector<uint8_t>(image.modules, image.modules + cells), once);
    FreeSymbolMatrix(&image);
}

// The automatic choice: eight traced scores, the lowest wins, ties go to
// the lower reference, and the symbol carries the winner.
TEST(MaskTest, AutomaticChoiceTraceAndTies) {
    // T17 at level H: masks 1 and 7 share the lowest score.
    const std::pair<const char*, int> cases[] = {{"MASKS", QR_LEVEL_Q},
                                                 {"01234567", QR_LEVEL_L},
                                                 {"Hello, world", QR_LEVEL_M},
                                                 {"T17", QR_LEVEL_H}};
    for (const auto& [message, level] : cases) {
        SCOPED_TRACE(message);
        Image image{};
        testing::internal::CaptureStdout();
        ASSERT_EQ(EncodeMatrix(&image, 0, 0, level, 0, message, IMAGEFLAG_VERBOSE).result, 0);
        std::istringstream trace(testing::internal::GetCapturedStdout());
        int best = -1;
        int bestScore = 0;
        std::vector<int> scores;
        std::string line;
        for (int mask = 0; mask < 8; ++mask) {
            ASSERT_TRUE(std::getline(trace, line));
            int score = -1;
            int arrow = -1;
            ASSERT_EQ(
                std::sscanf(line.c_str(), "[QRCode] Mask#,Penalty=%*d,%d -->%d", &score, &arrow),
                2);
            char expected[64];
            std::snprintf(expected, sizeof expected, "[QRCode] Mask#,Penalty=%d,%4d -->%d", mask,
                          score, arrow);
            EXPECT_EQ(line, expected);
            scores.push_back(score);
            if (best < 0 || score < bestScore) {
                best = mask;
                bestScore = score;
            }
            EXPECT_EQ(arrow, best);
        }
        EXPECT_FALSE(std::getline(trace, line));
        EXPECT_EQ(ReadByStandard(&image).mask, best);
        if (level == QR_LEVEL_H) {
            EXPECT_EQ(best, 1);
            EXPECT_EQ(scores[7], scores[1]);
        }
        FreeSymbolMatrix(&image);
    }
}

TEST(MaskTest, RequestedPatterns) {
    Image automatic{};
    ASSERT_EQ(EncodeMatrix(&automatic, 0, 2, QR_LEVEL_H, 0, "PATTERN").result, 0);
    const size_t cells = static_cast<size_t>(automatic.moduleCount) * automatic.moduleCount;
    const std::vector<uint8_t> expected(automatic.modules, automatic.modules + cells);
    FreeSymbolMatrix(&automatic);
    for (int pattern : {9, -1}) {  // out of range: the automatic choice
        Image image{};
        ASSERT_EQ(EncodeMatrix(&image, 0, 2, QR_LEVEL_H, pattern, "PATTERN").result, 0);
        EXPECT_EQ(std::vector<uint8_t>(image.modules, image.modules + cells), expected);
        FreeSymbolMatrix(&image);
    }
    Image fixed{};
    testing::internal::CaptureStdout();
    ASSERT_EQ(EncodeMatrix(&fixed, 0, 2, QR_LEVEL_H, 3, "PATTERN", IMAGEFLAG_VERBOSE).result, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[QRCode] Mask#                  =2\n");
    const StandardReading reading = ReadByStandard(&fixed);
    EXPECT_EQ(reading.failure, "");
    EXPECT_EQ(reading.mask, 2);
    FreeSymbolMatrix(&fixed);
}

}  // namespace
