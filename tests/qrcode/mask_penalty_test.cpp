// The penalty score checked against a plain module-by-module count of the
// four rules, on random planes of every size up to the largest symbol and on
// real symbols under each mask, including the scores the automatic choice
// traces (which it computes without masking the module plane).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <vector>

#include "qrcode/qrcode.h"
#include "tests/qrcode/qr_test_util.h"
#include "zemqrfile.h"

namespace {

// The four rules read straight off the byte plane.
int ReferencePenalty(const uint8_t* m, int n) {
    auto at = [&](int line, int k, bool column) {
        return column ? m[k * n + line] : m[line * n + k];
    };
    int score = 0;
    for (int line = 0; line < n; ++line) {
        for (bool column : {false, true}) {
            for (int k = 0; k < n;) {
                int end = k;
                while (end < n && at(line, end, column) == at(line, k, column)) {
                    ++end;
                }
                score += end - k >= 5 ? end - k - 2 : 0;
                k = end;
            }
            static const int kFinder[7] = {1, 0, 1, 1, 1, 0, 1};
            for (int j = 0; j + 7 <= n; ++j) {
                bool found = true;
                for (int k = -4; k < 11 && found; ++k) {
                    const int want = k >= 0 && k < 7 ? kFinder[k] : 0;
                    const bool inside = j + k >= 0 && j + k < n;
                    found = inside ? at(line, j + k, column) == want : want == 0;
                }
                score += found ? 40 : 0;
            }
        }
    }
    int dark = 0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            dark += m[i * n + j];
            if (i + 1 < n && j + 1 < n && m[i * n + j] == m[i * n + j + 1] &&
                m[i * n + j] == m[(i + 1) * n + j] && m[i * n + j] == m[(i + 1) * n + j + 1]) {
                score += 3;
            }
        }
    }
    return score + 10 * (std::abs(50 - 100 * dark / (n * n)) / 5);
}

TEST(MaskPenaltyTest, MatchesAPlainCountOnRandomPlanes) {
    std::mt19937 random(17);
    for (int n = 1; n <= kQrMaxModules; n += (n < 70 ? 1 : 9)) {
        for (int density : {2, 5, 50}) {  // sparse planes grow long runs and finder patterns
            std::vector<uint8_t> modules(static_cast<size_t>(n) * n);
            for (uint8_t& module : modules) {
                module = random() % 100 < static_cast<unsigned>(density) ? 1 : 0;
            }
            // Plant finder-like patterns near both edges and in the middle.
            if (n >= 11) {
                for (int at : {0, n / 2 - 3, n - 7}) {
                    for (int k = 0; k < 7; ++k) {
                        modules[static_cast<size_t>(at) * n + at + k] = k == 1 || k == 5 ? 0 : 1;
                        modules[static_cast<size_t>(at + k) * n + at] = k == 1 || k == 5 ? 0 : 1;
                    }
                }
            }
            Image image{};
            image.moduleCount = n;
            image.modules = modules.data();
            EXPECT_EQ(MaskPenalty(&image), ReferencePenalty(modules.data(), n))
                << "n " << n << " density " << density;
        }
    }
}

TEST(MaskPenaltyTest, TracedScoresAreThoseOfTheMaskedSymbols) {
    const std::string long8bit(1500, 'q');
    const struct {
        int version;
        int level;
        std::string message;
    } cases[] = {{1, QR_LEVEL_M, "HELLO"},
                 {7, QR_LEVEL_H, "01234567890123456789"},
                 {24, QR_LEVEL_Q, long8bit},
                 {40, QR_LEVEL_L, long8bit}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        Image image{};
        testing::internal::CaptureStdout();
        ASSERT_EQ(
            EncodeMatrix(&image, 0, c.version, c.level, 0, c.message, IMAGEFLAG_VERBOSE).result, 0);
        std::istringstream trace(testing::internal::GetCapturedStdout());
        std::vector<int> traced;
        for (std::string line; std::getline(trace, line);) {
            int score = 0;
            if (std::sscanf(line.c_str(), "[QRCode] Mask#,Penalty=%*d,%d", &score) == 1) {
                traced.push_back(score);
            }
        }
        ASSERT_EQ(traced.size(), 8u);
        // Take the version information off again: masks are scored without it.
        const int n = image.moduleCount;
        if (c.version >= 7) {
            for (int i = 0; i < 6; ++i) {
                for (int j = n - 11; j < n - 8; ++j) {
                    image.modules[i * n + j] = image.modules[j * n + i] = 0;
                    image.moduleKinds[i * n + j] = image.moduleKinds[j * n + i] =
                        KIND_FUNCTION_LIGHT;
                }
            }
        }
        for (int mask = 0; mask < 8; ++mask) {
            ApplyMask(&image, mask);
            PutFormatInfo(&image, mask, c.level);
            EXPECT_EQ(MaskPenalty(&image), ReferencePenalty(image.modules, n)) << mask;
            EXPECT_EQ(traced[static_cast<size_t>(mask)], MaskPenalty(&image)) << mask;
        }
        FreeSymbolMatrix(&image);
    }
}

}  // namespace
