// Data masks: choosing the one with the lowest penalty, and applying one.
#include <cassert>
#include <cstdio>

#include "qrcode/qrcode.h"
#include "zemqrfile.h"

namespace {

// Module values at the same period, for masking the byte plane.
constexpr auto MakeMaskTable() {
    std::array<std::array<std::array<uint8_t, kMaskColumnPeriod>, kMaskRowPeriod>, kMaskCount>
        table{};
    for (int mask = 0; mask < kMaskCount; ++mask) {
        for (int i = 0; i < kMaskRowPeriod; ++i) {
            for (int j = 0; j < kMaskColumnPeriod; ++j) {
                table[mask][i][j] = MaskInverts(mask, i, j) ? 1 : 0;
            }
        }
    }
    return table;
}
constexpr auto kMaskTable = MakeMaskTable();

}  // namespace

int SelectMask(const Image* image, int level) {
    const bool verbose = (image->flags & IMAGEFLAG_VERBOSE) != 0;
    int chosen = -1;
    if (image->maskPattern >= 1 && image->maskPattern <= kMaskCount) {
        chosen = image->maskPattern - 1;
        if (verbose) {
            std::printf("[QRCode] Mask#                  =%d\n", chosen);
        }
    } else {
        int scores[kMaskCount];
        ScoreMasks(image, level, scores);
        int best = 0;
        for (int mask = 0; mask < kMaskCount; ++mask) {
            const int score = scores[mask];
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
    return chosen;
}

void ApplyMask(Image* image, int mask) {
    assert(mask >= 0 && mask < kMaskCount);
    const int n = image->moduleCount;
    for (int i = 0; i < n; ++i) {
        const auto& pattern = kMaskTable[mask][i % kMaskRowPeriod];
        uint8_t* modules = image->modules + i * n;
        const uint8_t* kinds = image->moduleKinds + i * n;
        for (int j = 0, phase = 0; j < n;
             ++j, phase = phase + 1 == kMaskColumnPeriod ? 0 : phase + 1) {
            const uint8_t kind = kinds[j];
            if (kind == KIND_DATA_DARK || kind == KIND_DATA_LIGHT) {
                modules[j] =
                    static_cast<uint8_t>((kind == KIND_DATA_DARK ? 1 : 0) ^ pattern[phase]);
            }
        }
    }
}
