// Reed-Solomon error correction codewords per block, and the interleaving of
// data and error correction codewords into the symbol's order.
#include <cassert>
#include <cstring>

#include "qrcode/qrcode.h"

namespace {

constexpr int kPrimitivePolynomial = 0x11D;  // x^8 + x^4 + x^3 + x^2 + 1
constexpr int kBlockWorkSize = 256;          // the longest block has 153 codewords

using ByteTable = std::array<uint8_t, 256>;
using GeneratorTable = std::array<std::array<uint8_t, kMaxEcPerBlock>, kMaxEcPerBlock + 1>;

constexpr ByteTable MakeExpTable() {
    ByteTable table{};
    int value = 1;
    for (int i = 0; i < 255; ++i) {
        table[i] = static_cast<uint8_t>(value);
        value <<= 1;
        if ((value & 0x100) != 0) {
            value ^= kPrimitivePolynomial;
        }
    }
    table[255] = table[0];
    return table;
}

constexpr ByteTable MakeLogTable(const ByteTable& exp) {
    ByteTable table{};
    for (int i = 0; i < 255; ++i) {
        table[exp[i]] = static_cast<uint8_t>(i);
    }
    return table;
}

constexpr uint8_t Multiply(const ByteTable& exp, const ByteTable& log, uint8_t a, int exponent) {
    return a == 0 ? 0 : exp[(log[a] + exponent) % 255];
}

// The coefficients of (x - 2^0)(x - 2^1)...(x - 2^(e-1)), leading 1 first.
constexpr std::array<uint8_t, kMaxEcPerBlock + 1> GeneratorCoefficients(const ByteTable& exp,
                                                                        const ByteTable& log,
                                                                        int e) {
    std::array<uint8_t, kMaxEcPerBlock + 1> coefficients{1};
    for (int root = 0; root < e; ++root) {
        for (int j = root + 1; j >= 1; --j) {
            coefficients[j] ^= Multiply(exp, log, coefficients[j - 1], root);
        }
    }
    return coefficients;
}

constexpr GeneratorTable MakeGenerators(const ByteTable& exp, const ByteTable& log) {
    GeneratorTable table{};
    for (int e = 1; e <= kMaxEcPerBlock; ++e) {
        const auto coefficients = GeneratorCoefficients(exp, log, e);
        for (int j = 0; j < e; ++j) {
            table[e][j] = log[coefficients[j + 1]];
        }
    }
    return table;
}

// An exponent can only stand for a non-zero coefficient; prove there is none.
constexpr bool GeneratorsHaveNoZeroCoefficient(const ByteTable& exp, const ByteTable& log) {
    for (int e = 1; e <= kMaxEcPerBlock; ++e) {
        const auto coefficients = GeneratorCoefficients(exp, log, e);
        for (int j = 0; j <= e; ++j) {
            if (coefficients[j] == 0) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

// Built by the compiler; nothing is computed at run time.
constexpr ByteTable GfExp = MakeExpTable();
constexpr ByteTable GfLog = MakeLogTable(GfExp);
constexpr GeneratorTable GeneratorPolynomials = MakeGenerators(GfExp, GfLog);
static_assert(GeneratorsHaveNoZeroCoefficient(GfExp, GfLog));

namespace {

// 2^i for i up to 2 × 254, so that the sum of two exponents needs no mod 255.
constexpr auto MakeWideExpTable() {
    std::array<uint8_t, 2 * 255> table{};
    for (int i = 0; i < 2 * 255; ++i) {
        table[i] = GfExp[i % 255];
    }
    return table;
}
constexpr auto kWideExp = MakeWideExpTable();

// For a long message the generator is multiplied by every field element once,
// a row per element, padded with zeros to a fixed width: a division step is
// then a one-byte shift and an exclusive-or of whole rows, which the compiler
// does a vector at a time. Below this many data codewords the rows would cost
// more than they save.
constexpr int kProductRow = 32;
constexpr int kProductsWorthFrom = 256;
static_assert(kMaxEcPerBlock < kProductRow);
using ProductTable = uint8_t[256][kProductRow];

void FillProducts(ProductTable table, int e) {
    const auto& generator = GeneratorPolynomials[e];
    std::memset(table, 0, sizeof(ProductTable));
    for (int value = 1; value < 256; ++value) {
        const uint8_t* product = kWideExp.data() + GfLog[value];
        for (int j = 0; j < e; ++j) {
            table[value][j] = product[generator[j]];
        }
    }
}

// What RsRemainder leaves in work[0..e-1], written to `out`.
void DivideWithProducts(const uint8_t* data, int k, int e, const ProductTable table, uint8_t* out) {
    uint8_t remainder[kProductRow + 1] = {};  // the last byte stays 0 and shifts in
    for (int step = 0; step < k; ++step) {
        const uint8_t* product = table[data[step] ^ remainder[0]];
        std::memmove(remainder, remainder + 1, kProductRow);
        for (int j = 0; j < kProductRow; ++j) {
            remainder[j] ^= product[j];
        }
    }
    std::memcpy(out, remainder, static_cast<std::size_t>(e));
}

}  // namespace

void RsRemainder(uint8_t* work, int k, int e) {
    assert(e >= 1 && e <= kMaxEcPerBlock);
    // Long division with only the e-byte remainder in hand: each data
    // codeword enters at the top, the leading term leaves and, when it is not
    // zero, takes the generator times its value with it.
    const auto& generator = GeneratorPolynomials[e];
    uint8_t remainder[kMaxEcPerBlock + 1] = {};
    for (int step = 0; step < k; ++step) {
        const uint8_t lead = work[step] ^ remainder[0];
        if (lead == 0) {
            std::memmove(remainder, remainder + 1, static_cast<std::size_t>(e));
            continue;
        }
        const uint8_t* product = kWideExp.data() + GfLog[lead];
        for (int j = 0; j < e; ++j) {
            remainder[j] = remainder[j + 1] ^ product[generator[j]];
        }
    }
    std::memcpy(work, remainder, static_cast<std::size_t>(e));
}

int MakeErrorCorrection(const uint8_t* data, uint8_t* ec, int version, int level) {
    assert(version >= 1 && version <= kQrMaxVersion && level >= QR_LEVEL_L && level <= QR_LEVEL_H);
    const VersionParams& params = VersionParamTable[version - 1];
    const int l = level - 1;
    const int blocks[2] = {params.blocks1[l], params.blocks2[l]};
    const int dataPerBlock[2] = {params.data1[l], params.data2[l]};
    const int codewordsPerBlock[2] = {params.codewords1[l], params.codewords2[l]};
    const bool withProducts =
        blocks[0] * dataPerBlock[0] + blocks[1] * dataPerBlock[1] >= kProductsWorthFrom;
    ProductTable products;
    int productsFor = 0;  // the e that `products` holds, 0 for none yet
    int read = 0;
    int write = 0;
    uint8_t work[kBlockWorkSize];
    for (int group = 0; group < 2; ++group) {
        const int k = dataPerBlock[group];
        const int e = codewordsPerBlock[group] - k;
        assert(k + e <= kBlockWorkSize);
        if (withProducts && blocks[group] > 0 && productsFor != e) {
            FillProducts(products, e);
            productsFor = e;
        }
        for (int block = 0; block < blocks[group]; ++block) {
            if (withProducts) {
                DivideWithProducts(data + read, k, e, products, ec + write);
            } else {
                std::memset(work, 0, sizeof work);
                std::memcpy(work, data + read, static_cast<std::size_t>(k));
                RsRemainder(work, k, e);
                std::memcpy(ec + write, work, static_cast<std::size_t>(e));
            }
            write += e;
            read += k;
        }
    }
    assert(read <= kCodewordBufferSize && write <= kCodewordBufferSize);
    return write;
}

void InterleaveCodewords(uint8_t* data, uint8_t* ec, int version, int level) {
    assert(version >= 1 && version <= kQrMaxVersion && level >= QR_LEVEL_L && level <= QR_LEVEL_H);
    const VersionParams& params = VersionParamTable[version - 1];
    const int l = level - 1;
    const int group1 = params.blocks1[l];
    const int blocks = group1 + params.blocks2[l];
    const int shortData = params.data1[l];
    const int ecPerBlock = params.codewords1[l] - shortData;
    uint8_t area[kCodewordBufferSize];
    assert(blocks * (shortData + ecPerBlock) + params.blocks2[l] <= kCodewordBufferSize);

    // Column by column over the blocks; the extra codeword of each group 2
    // block comes after the last full column.
    int read = 0;
    for (int block = 0; block < blocks; ++block) {
        for (int i = 0; i < shortData; ++i) {
            area[blocks * i + block] = data[read++];
        }
        if (block >= group1) {
            area[blocks * shortData + block - group1] = data[read++];
        }
    }
    std::memcpy(data, area, static_cast<std::size_t>(read));

    read = 0;
    for (int block = 0; block < blocks; ++block) {
        for (int i = 0; i < ecPerBlock; ++i) {
            area[blocks * i + block] = ec[read++];
        }
    }
    std::memcpy(ec, area, static_cast<std::size_t>(read));
}
