// Penalty scores on bit lines: every row and every column of the symbol as a
// 192-bit word, module j at bit kLineOffset + j, so that a whole line is
// tested for runs, blocks and finder-like patterns with a few shifts and
// population counts. The bits around the symbol stay 0, which is what the
// finder-like rule wants: the edge counts as light.
//
// Scoring the eight masks never masks the module plane: the symbol is split
// once into the modules no mask touches, the data bits and where the data
// modules are, and each mask's lines are built from these, the periodic mask
// pattern and the mask's format information.
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define ZEM_X86_POPCOUNT_CHOICE 1
#endif

#include <bit>
#include <cassert>
#include <cstdlib>

#include "qrcode/qrcode.h"

namespace {

// Penalty weights: N1 for a run of five equal modules (one more for each
// further module), N2 for a 2 × 2 block, N3 for a finder-like pattern, N4
// for each full 5 % by which the dark share strays from half.
constexpr int kPenaltyN1 = 3;
constexpr int kPenaltyN2 = 3;
constexpr int kPenaltyN3 = 40;
constexpr int kPenaltyN4 = 10;

constexpr int kLineWords = 3;
constexpr int kLineOffset = 4;
static_assert(kLineOffset + kQrMaxModules + 7 + kLineOffset <= 64 * kLineWords);

struct Line {
    uint64_t w[kLineWords];
};

constexpr void SetBit(Line& line, int module) {
    const int bit = kLineOffset + module;
    line.w[bit / 64] |= uint64_t{1} << (bit % 64);
}

// Bits from..to-1 set.
constexpr Line BitRange(int from, int to) {
    Line line{};
    for (int bit = from; bit < to; ++bit) {
        line.w[bit / 64] |= uint64_t{1} << (bit % 64);
    }
    return line;
}

// Mask patterns as lines over the widest symbol: for mask m, the row at
// phase i % 12 and the column at phase j % 6.
struct MaskLines {
    Line rows[kMaskCount][kMaskRowPeriod];
    Line columns[kMaskCount][kMaskColumnPeriod];
};

constexpr MaskLines MakeMaskLines() {
    MaskLines lines{};
    for (int mask = 0; mask < kMaskCount; ++mask) {
        for (int k = 0; k < kQrMaxModules; ++k) {
            for (int phase = 0; phase < kMaskRowPeriod; ++phase) {
                if (MaskInverts(mask, phase, k)) {
                    SetBit(lines.rows[mask][phase], k);
                }
            }
            for (int phase = 0; phase < kMaskColumnPeriod; ++phase) {
                if (MaskInverts(mask, k, phase)) {
                    SetBit(lines.columns[mask][phase], k);
                }
            }
        }
    }
    return lines;
}
constexpr MaskLines kMaskLines = MakeMaskLines();

// Line operations over the first W words; the words above a line's last bit
// are zero, so a small symbol needs only one or two of them.
template <int W>
Line Down(const Line& a, int k) {  // bit p of the result is bit p + k of a (0 < k < 64)
    Line out{};
    for (int w = 0; w < W; ++w) {
        out.w[w] = a.w[w] >> k | (w + 1 < W ? a.w[w + 1] << (64 - k) : 0);
    }
    return out;
}

template <int W>
Line Up1(const Line& a) {
    Line out{};
    for (int w = 0; w < W; ++w) {
        out.w[w] = a.w[w] << 1 | (w > 0 ? a.w[w - 1] >> 63 : 0);
    }
    return out;
}

// (a op1 b) for op1 in and / and-not / or; `Same` keeps the bits where a
// and b agree within `valid`.
template <int W>
Line And(const Line& a, const Line& b) {
    Line out{};
    for (int w = 0; w < W; ++w) {
        out.w[w] = a.w[w] & b.w[w];
    }
    return out;
}

template <int W>
Line AndNot(const Line& a, const Line& b) {
    Line out{};
    for (int w = 0; w < W; ++w) {
        out.w[w] = a.w[w] & ~b.w[w];
    }
    return out;
}

template <int W>
Line Or(const Line& a, const Line& b) {
    Line out{};
    for (int w = 0; w < W; ++w) {
        out.w[w] = a.w[w] | b.w[w];
    }
    return out;
}

template <int W>
Line Same(const Line& a, const Line& b, const Line& valid) {
    Line out{};
    for (int w = 0; w < W; ++w) {
        out.w[w] = ~(a.w[w] ^ b.w[w]) & valid.w[w];
    }
    return out;
}

// The baseline instruction set has no popcount instruction, and the
// compiler's builtin is then a library call: scoring is built twice, with the
// instruction for processors that have it (chosen at run time) and with an
// inline bit count for the others.
constexpr int Popcount(uint64_t x) {
    x -= (x >> 1) & 0x5555555555555555ull;
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<int>((x * 0x0101010101010101ull) >> 56);
}
// Where the tests run the instruction is usually present; the inline count
// is proven here instead.
static_assert([] {
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 1000; ++i, x = x * 6364136223846793005ull + 1442695040888963407ull) {
        if (Popcount(x) != std::popcount(x) ||
            Popcount(x >> (i % 64)) != std::popcount(x >> (i % 64))) {
            return false;
        }
    }
    return Popcount(0) == 0 && Popcount(~0ull) == 64;
}());

template <int W, bool kInstruction>
[[gnu::always_inline]] inline int Count(const Line& a) {
    int count = 0;
    for (int w = 0; w < W; ++w) {
        count += kInstruction ? __builtin_popcountll(a.w[w]) : Popcount(a.w[w]);
    }
    return count;
}

// The same for lines with few bits set, which most have none of.
template <int W>
int CountFew(const Line& a) {
    int count = 0;
    for (int w = 0; w < W; ++w) {
        for (uint64_t bits = a.w[w]; bits != 0; bits &= bits - 1) {
            ++count;
        }
    }
    return count;
}

// What the rules need to know about the symbol size.
struct LineBounds {
    Line modules;  // modules 0 to n - 1
    Line pairs;    // modules j with j + 1 inside the symbol
    Line first;    // module 0
    Line finders;  // start columns j of a finder-like pattern, 0 to n - 7 (at bit j)
};

LineBounds Bounds(int n) {
    return {BitRange(kLineOffset, kLineOffset + n), BitRange(kLineOffset, kLineOffset + n - 1),
            BitRange(kLineOffset, kLineOffset + 1), BitRange(0, n >= 7 ? n - 6 : 0)};
}

// Runs of L >= 5 equal modules add N1 + L - 5: one for each window of five
// equal modules (L - 4) and N1 - 1 for each run start. Finder-like patterns
// add N3: light four, dark-light-dark-dark-dark-light-dark, light four, where
// bit j of the match stands for the pattern's first dark module at module j.
template <int W, bool kInstruction>
[[gnu::always_inline]] inline int LinePenalty(const Line& line, const LineBounds& bounds) {
    const Line next1 = Down<W>(line, 1);
    const Line next2 = Down<W>(line, 2);
    const Line next3 = Down<W>(line, 3);
    const Line equal = Same<W>(line, next1, bounds.pairs);
    const Line five =
        And<W>(And<W>(equal, Down<W>(equal, 1)), And<W>(Down<W>(equal, 2), Down<W>(equal, 3)));
    const Line starts = And<W>(five, Or<W>(Up1<W>(AndNot<W>(bounds.pairs, equal)), bounds.first));

    // anyDark bit p: a dark module among line bits p to p + 3; core bit p:
    // 1011101 from bit p.
    const Line anyDark = Or<W>(Or<W>(line, next1), Or<W>(next2, next3));
    const Line core = AndNot<W>(And<W>(And<W>(line, next2), And<W>(next3, Down<W>(line, 4))),
                                Or<W>(next1, Down<W>(line, 5)));
    const Line finderCore = And<W>(core, Down<W>(line, 6));
    const Line match = AndNot<W>(AndNot<W>(And<W>(bounds.finders, Down<W>(finderCore, 4)), anyDark),
                                 Down<W>(anyDark, 11));
    return Count<W, kInstruction>(five) + (kPenaltyN1 - 1) * CountFew<W>(starts) +
           kPenaltyN3 * CountFew<W>(match);
}

// 2 × 2 squares of equal modules whose top-left module is in `upper`.
template <int W, bool kInstruction>
[[gnu::always_inline]] inline int BlockPenalty(const Line& upper, const Line& lower,
                                               const LineBounds& bounds) {
    const Line vertical = Same<W>(upper, lower, bounds.modules);
    const Line horizontal = Same<W>(upper, Down<W>(upper, 1), bounds.pairs);
    return kPenaltyN2 *
           Count<W, kInstruction>(And<W>(And<W>(vertical, Down<W>(vertical, 1)), horizontal));
}

template <int W, bool kInstruction>
[[gnu::always_inline]] inline int ScoreLinesOf(const Line* rows, const Line* columns, int n) {
    const LineBounds bounds = Bounds(n);
    int score = 0;
    int dark = 0;
    for (int k = 0; k < n; ++k) {
        score += LinePenalty<W, kInstruction>(rows[k], bounds) +
                 LinePenalty<W, kInstruction>(columns[k], bounds);
        dark += Count<W, kInstruction>(rows[k]);
        if (k + 1 < n) {
            score += BlockPenalty<W, kInstruction>(rows[k], rows[k + 1], bounds);
        }
    }
    const int percent = 100 * dark / (n * n);
    return score + kPenaltyN4 * (std::abs(50 - percent) / 5);
}

// A line reaches to bit n + 7 (the light modules after a pattern at the
// edge); a small symbol needs fewer words.
template <bool kInstruction>
[[gnu::always_inline]] inline int ScoreLinesIn(const Line* rows, const Line* columns, int n) {
    const int bits = kLineOffset + n + 4;
    if (bits <= 64) {
        return ScoreLinesOf<1, kInstruction>(rows, columns, n);
    }
    if (bits <= 128) {
        return ScoreLinesOf<2, kInstruction>(rows, columns, n);
    }
    return ScoreLinesOf<3, kInstruction>(rows, columns, n);
}

#if defined(ZEM_X86_POPCOUNT_CHOICE)
[[gnu::target("popcnt")]] int ScoreLinesWithInstruction(const Line* rows, const Line* columns,
                                                        int n) {
    return ScoreLinesIn<true>(rows, columns, n);
}

int ScoreLinesWithoutInstruction(const Line* rows, const Line* columns, int n) {
    return ScoreLinesIn<false>(rows, columns, n);
}

// Whether the processor has the population count instruction: one CPUID,
// asked as the program starts (a local static would need a guard, and the
// guard the C++ runtime, which the console program otherwise does without).
// The compiler's __builtin_cpu_supports would run libgcc's whole probe, a
// dozen CPUIDs that each trap to the hypervisor in a virtual machine: a
// visible share of a short process.
bool AskForPopcount() {
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    __cpuid(1, eax, ebx, ecx, edx);
    return (ecx & bit_POPCNT) != 0;
}

const bool kHasPopcount = AskForPopcount();

// The penalty of an n × n symbol given as its rows and its columns.
int ScoreLines(const Line* rows, const Line* columns, int n) {
    return kHasPopcount ? ScoreLinesWithInstruction(rows, columns, n)
                        : ScoreLinesWithoutInstruction(rows, columns, n);
}
#else
// Elsewhere the inline bit count: portable, and the compiler turns it into
// the target's own instructions where it has them.
int ScoreLines(const Line* rows, const Line* columns, int n) {
    return ScoreLinesIn<false>(rows, columns, n);
}
#endif

// A line of the symbol as it stands before masking, split three ways:
// modules no mask changes, data bits, and where the data modules are.
struct SplitLine {
    Line fixed;
    Line bits;
    Line data;
};

// Lines are kept as n rows followed by n columns, so that a small symbol
// touches only the start of the arrays.
void Split(const Image* image, SplitLine* lines) {
    const int n = image->moduleCount;
    for (int k = 0; k < 2 * n; ++k) {
        lines[k] = SplitLine{};
    }
    SplitLine* columns = lines + n;
    for (int i = 0; i < n; ++i) {
        const uint8_t* modules = image->modules + i * n;
        const uint8_t* kinds = image->moduleKinds + i * n;
        for (int j = 0; j < n; ++j) {
            const uint8_t kind = kinds[j];
            if (kind == KIND_DATA_DARK || kind == KIND_DATA_LIGHT) {
                SetBit(lines[i].data, j);
                SetBit(columns[j].data, i);
                if (kind == KIND_DATA_DARK) {
                    SetBit(lines[i].bits, j);
                    SetBit(columns[j].bits, i);
                }
            } else if (modules[j] != 0) {
                SetBit(lines[i].fixed, j);
                SetBit(columns[j].fixed, i);
            }
        }
    }
}

// A line under a mask: its fixed modules, its data bits with the mask's
// inversions.
Line Masked(const SplitLine& split, const Line& pattern) {
    Line line;
    for (int w = 0; w < kLineWords; ++w) {
        line.w[w] = split.fixed.w[w] | ((split.bits.w[w] ^ pattern.w[w]) & split.data.w[w]);
    }
    return line;
}

// The penalty the symbol would have under the mask with its format
// information written, as ApplyMask and PutFormatInfo would leave it.
// `lines` receives the masked rows and columns.
int ScoreMask(const SplitLine* split, int n, int mask, int level, Line* lines) {
    Line* rows = lines;
    Line* columns = lines + n;
    for (int k = 0; k < n; ++k) {
        rows[k] = Masked(split[k], kMaskLines.rows[mask][k % kMaskRowPeriod]);
        columns[k] = Masked(split[n + k], kMaskLines.columns[mask][k % kMaskColumnPeriod]);
    }
    // Format modules are reserved and light until written.
    const int word = FormatInfoWord(mask, level);
    for (int bit = 0; bit < 15; ++bit) {
        if ((word >> bit & 1) == 0) {
            continue;
        }
        int moduleRows[2];
        int moduleColumns[2];
        FormatInfoModules(n, bit, moduleRows, moduleColumns);
        for (int copy = 0; copy < 2; ++copy) {
            SetBit(rows[moduleRows[copy]], moduleColumns[copy]);
            SetBit(columns[moduleColumns[copy]], moduleRows[copy]);
        }
    }
    return ScoreLines(rows, columns, n);
}

}  // namespace

int MaskPenalty(const Image* image) {
    const int n = image->moduleCount;
    assert(n >= 1 && n <= kQrMaxModules);
    Line lines[2 * kQrMaxModules];
    for (int k = 0; k < 2 * n; ++k) {
        lines[k] = Line{};
    }
    Line* rows = lines;
    Line* columns = lines + n;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            if (image->modules[i * n + j] != 0) {
                SetBit(rows[i], j);
                SetBit(columns[j], i);
            }
        }
    }
    return ScoreLines(rows, columns, n);
}

void ScoreMasks(const Image* image, int level, int scores[kMaskCount]) {
    assert(image->moduleCount >= 1 && image->moduleCount <= kQrMaxModules);
    SplitLine split[2 * kQrMaxModules];
    Split(image, split);
    Line lines[2 * kQrMaxModules];
    for (int mask = 0; mask < kMaskCount; ++mask) {
        scores[mask] = ScoreMask(split, image->moduleCount, mask, level, lines);
    }
}
