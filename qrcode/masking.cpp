// Data masks: applying one, scoring the masked symbol, choosing the best.
#include <cstdio>
#include <cstdlib>

#include "qrcode/qrcode.h"
#include "zemqrfile.h"

namespace {

constexpr int kMaskCount = 8;

// Whether mask reference `mask` inverts the module at row i, column j.
bool MaskInverts(int mask, int i, int j) {
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

// Runs of five or more equal modules along one line of n modules.
int RunPenalty(const uint8_t* line, int stride, int n) {
    int score = 0;
    int runLength = 1;
    for (int k = 1; k <= n; ++k) {
        if (k < n && line[k * stride] == line[(k - 1) * stride]) {
            ++runLength;
            continue;
        }
        if (runLength >= 5) {
            score += runLength - 2;
        }
        runLength = 1;
    }
    return score;
}

// Dark-light-dark-dark-dark-light-dark with up to four light modules on
// both sides (the symbol edge counts as light).
int FinderLikePenalty(const uint8_t* line, int stride, int n) {
    static constexpr uint8_t kPattern[7] = {1, 0, 1, 1, 1, 0, 1};
    int score = 0;
    for (int j = 0; j + 7 <= n; ++j) {
        bool found = true;
        for (int k = 0; k < 7 && found; ++k) {
            found = line[(j + k) * stride] == kPattern[k];
        }
        for (int k = 1; k <= 4 && found; ++k) {
            found = (j - k < 0 || line[(j - k) * stride] == 0) &&
                    (j + 6 + k >= n || line[(j + 6 + k) * stride] == 0);
        }
        if (found) {
            score += 40;
        }
    }
    return score;
}

}  // namespace

void ApplyMask(Image* image, int mask) {
    const int n = image->moduleCount;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const int index = i * n + j;
            const uint8_t kind = image->moduleKinds[index];
            if (kind == KIND_DATA_DARK || kind == KIND_DATA_LIGHT) {
                image->modules[index] = (kind == KIND_DATA_DARK) != MaskInverts(mask, i, j) ? 1 : 0;
            }
        }
    }
}

int MaskPenalty(const Image* image) {
    const int n = image->moduleCount;
    const uint8_t* modules = image->modules;
    int score = 0;
    for (int k = 0; k < n; ++k) {
        score += RunPenalty(modules + k * n, 1, n) + RunPenalty(modules + k, n, n);
        score += FinderLikePenalty(modules + k * n, 1, n) + FinderLikePenalty(modules + k, n, n);
    }
    int dark = 0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const uint8_t value = modules[i * n + j];
            dark += value;
            if (i + 1 < n && j + 1 < n && value == modules[i * n + j + 1] &&
                value == modules[(i + 1) * n + j] && value == modules[(i + 1) * n + j + 1]) {
                score += 3;
            }
        }
    }
    const int percent = 100 * dark / (n * n);
    return score + 10 * (std::abs(50 - percent) / 5);
}

void SelectMask(Image* image, int level) {
    const bool verbose = (image->flags & IMAGEFLAG_VERBOSE) != 0;
    int chosen = -1;
    if (image->maskPattern >= 1 && image->maskPattern <= kMaskCount) {
        chosen = image->maskPattern - 1;
        if (verbose) {
            std::printf("[QRCode] Mask#                  =%d\n", chosen);
        }
    } else {
        int best = 0;
        for (int mask = 0; mask < kMaskCount; ++mask) {
            ApplyMask(image, mask);
            // The score takes in this mask's format information.
            PutFormatInfo(image, mask, level);
            const int score = MaskPenalty(image);
            // Ties go to the lower mask reference.
            if (chosen < 0 || score < best) {
                best = score;
                chosen = mask;
            }
            if (verbose) {
                std::printf("[QRCode] Mask#,Penalty=%d,%4d -->%d\n", mask, score, chosen);
            }
        }
    }
    ApplyMask(image, chosen);
    PutFormatInfo(image, chosen, level);
}
