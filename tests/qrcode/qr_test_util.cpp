#include "tests/qrcode/qr_test_util.h"

#include <bit>
#include <cstdlib>
#include <span>

#include "qrcode/qrcode.h"
#include "tests/support/test_support.h"

namespace {

int GfMultiply(int a, int b) {
    int product = 0;
    for (; b != 0; b >>= 1) {
        if ((b & 1) != 0) {
            product ^= a;
        }
        a <<= 1;
        if ((a & 0x100) != 0) {
            a ^= 0x11D;
        }
    }
    return product;
}

int PolynomialRemainder(int value, int generator) {
    const int degree = std::bit_width(static_cast<unsigned>(generator)) - 1;
    for (int bit = 30; bit >= degree; --bit) {
        if ((value >> bit & 1) != 0) {
            value ^= generator << (bit - degree);
        }
    }
    return value;
}

constexpr int kDataModule = -1;
constexpr int kInfoModule = -2;

// Expected value of a function module, kInfoModule for the format and
// version areas (checked apart) or kDataModule.
int FunctionModule(int version, int row, int column) {
    const int n = 4 * version + 17;
    const int finderCentres[3][2] = {{3, 3}, {3, n - 4}, {n - 4, 3}};
    for (const auto& centre : finderCentres) {
        const int ring = std::max(std::abs(row - centre[0]), std::abs(column - centre[1]));
        if (ring <= 4) {  // ring 4 is the separator
            return ring == 2 || ring == 4 ? 0 : 1;
        }
    }
    // Versions 2 to 6 hold their one centre only, which meets no finder.
    const std::span<const int32_t> centres(VersionParamTable[version - 1].alignment,
                                           AlignmentCentreCount(version));
    const int last = centres.empty() ? 0 : centres.back();
    for (int r : centres) {
        for (int c : centres) {
            const int ring = std::max(std::abs(row - r), std::abs(column - c));
            const bool onFinder =
                (r == 6 && c == 6) || (r == 6 && c == last) || (r == last && c == 6);
            if (!onFinder && ring <= 2) {
                return ring == 1 ? 0 : 1;
            }
        }
    }
    if (row == 6 || column == 6) {
        return (row + column) % 2 == 0 ? 1 : 0;
    }
    if (row == n - 8 && column == 8) {
        return 1;
    }
    if ((row == 8 && (column <= 8 || column >= n - 8)) ||
        (column == 8 && (row <= 8 || row >= n - 8)) ||
        (version >= 7 && ((row < 6 && column >= n - 11) || (column < 6 && row >= n - 11)))) {
        return kInfoModule;
    }
    return kDataModule;
}

bool MaskBit(int mask, int i, int j) {
    const int formulas[8] = {(i + j) % 2,
                             i % 2,
                             j % 3,
                             (i + j) % 3,
                             (i / 2 + j / 3) % 2,
                             (i * j) % 2 + (i * j) % 3,
                             ((i * j) % 2 + (i * j) % 3) % 2,
                             ((i + j) % 2 + (i * j) % 3) % 2};
    return formulas[mask] == 0;
}

// The 5 data bits whose format codeword equals word, or -1.
int FormatData(int word) {
    for (int data = 0; data < 32; ++data) {
        if (((data << 10 | PolynomialRemainder(data << 10, 0x537)) ^ 0x5412) == word) {
            return data;
        }
    }
    return -1;
}

}  // namespace

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values) {
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

std::string RandomMessage(std::mt19937& random, int mode, int length) {
    static constexpr char kAlphanumeric[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ $%*+-./:";
    std::string message;
    while (static_cast<int>(message.size()) < length) {
        const uint32_t r = random();
        switch (mode) {
            case QR_MODE_NUMERIC:
                message += static_cast<char>('0' + r % 10);
                break;
            case QR_MODE_ALPHANUMERIC:
                message += kAlphanumeric[r % 45];
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

EncodedMatrix EncodeMatrix(Image* image, int mode, int version, int level, int maskPattern,
                           const std::string& message, uint32_t flags) {
    EncodedMatrix out;
    const auto* data = reinterpret_cast<const uint8_t*>(message.data());
    const int byteCount = static_cast<int>(message.size());
    image->flags = flags;
    image->maskPattern = maskPattern;
    out.mode = DetectDataMode(mode, data, byteCount);
    out.version = SelectVersion(image, out.mode, version, level, data, byteCount, &out.count);
    uint8_t dataCodewords[kCodewordBufferSize] = {};
    uint8_t ecCodewords[kCodewordBufferSize] = {};
    int position = PutModeIndicator(dataCodewords, 0, out.mode);
    position = PutCharCount(dataCodewords, position, out.mode, out.version, out.count);
    const int dataCount =
        PutData(dataCodewords, position, out.mode, out.version, level, data, out.count) / 8;
    out.data.assign(dataCodewords, dataCodewords + dataCount);
    const int ecCount = MakeErrorCorrection(dataCodewords, ecCodewords, out.version, level);
    InterleaveCodewords(dataCodewords, ecCodewords, out.version, level);
    out.result = BuildSymbol(image, dataCodewords, dataCount, ecCodewords, ecCount, out.mode,
                             out.version, level);
    return out;
}

QrCodeRun RunQrCode(uint32_t flags, int mode, int version, int level, int maskPattern,
                    const std::string& message, int cellSize) {
    QrCodeRun run;
    const int side = 185 * cellSize + 2;
    Image* canvas = ImageCreate(IMAGE_FILL_WHITE, side, side, 3, 0, 0, nullptr);
    if (canvas == nullptr) {
        run.result = INT32_MIN;
        return run;
    }
    ImageSetMaskPattern(0, canvas, maskPattern);
    ImageSetCellSize(0, canvas, cellSize);
    run.result =
        QRCode(flags, canvas, 0, 0, mode, version, level,
               reinterpret_cast<const uint8_t*>(message.data()), static_cast<int>(message.size()));
    if (run.result > 0) {
        run.decoded = DecodeQrImage(canvas);
    }
    ImageFree(canvas);
    return run;
}

std::optional<std::string> DecodeModules(const Image* image) {
    const int n = image->moduleCount;
    const int scale = 3;
    const int side = (n + 8) * scale;
    std::vector<uint8_t> grey(static_cast<size_t>(side) * side, 255);
    for (int y = 0; y < n * scale; ++y) {
        for (int x = 0; x < n * scale; ++x) {
            if (image->modules[(y / scale) * n + x / scale] != 0) {
                grey[static_cast<size_t>(y + 4 * scale) * side + x + 4 * scale] = 0;
            }
        }
    }
    return DecodeQrGrey(grey.data(), side, side);
}

StandardReading ReadByStandard(const Image* image) {
    StandardReading reading;
    const int n = image->moduleCount;
    const int version = (n - 17) / 4;
    auto module = [&](int row, int column) { return image->modules[row * n + column]; };

    for (int row = 0; row < n; ++row) {
        for (int column = 0; column < n; ++column) {
            const int expected = FunctionModule(version, row, column);
            if (expected >= 0 && module(row, column) != expected) {
                reading.failure =
                    "function module " + std::to_string(row) + "," + std::to_string(column);
                return reading;
            }
        }
    }

    // Format information: copy 1 around the top-left finder, copy 2 split
    // between the other two, bit 14 first.
    int first = 0;
    int second = 0;
    for (int i = 14; i >= 0; --i) {
        const int row1 = i < 6 ? i : (i == 6 ? 7 : 8);
        const int column1 = i < 7 ? 8 : (i == 7 ? 8 : (i == 8 ? 7 : 14 - i));
        first = first << 1 | module(row1, column1);
        second = second << 1 | (i < 8 ? module(8, n - 1 - i) : module(n - 15 + i, 8));
    }
    const int format = FormatData(first);
    if (format < 0 || first != second) {
        reading.failure = "format information";
        return reading;
    }
    const int levelOfBits[4] = {2, 1, 4, 3};  // indicator 00 M, 01 L, 10 H, 11 Q
    reading.level = levelOfBits[format >> 3];
    reading.mask = format & 7;

    if (version >= 7) {
        const int expected = version << 12 | PolynomialRemainder(version << 12, 0x1F25);
        int upper = 0;
        int lower = 0;
        for (int bit = 17; bit >= 0; --bit) {
            upper = upper << 1 | module(bit / 3, n - 11 + bit % 3);
            lower = lower << 1 | module(n - 11 + bit % 3, bit / 3);
        }
        if (upper != expected || lower != expected) {
            reading.failure = "version information";
            return reading;
        }
    }

    // Codeword bits in zigzag order, unmasked; what is left over after the
    // last whole codeword are remainder bits.
    std::vector<int> bits;
    for (int right = n - 1, upward = 1; right > 0; right -= 2, upward ^= 1) {
        if (right == 6) {
            right = 5;
        }
        for (int step = 0; step < n; ++step) {
            const int row = upward != 0 ? n - 1 - step : step;
            for (int column = right; column >= right - 1; --column) {
                if (FunctionModule(version, row, column) == kDataModule) {
                    bits.push_back(module(row, column) ^
                                   (MaskBit(reading.mask, row, column) ? 1 : 0));
                }
            }
        }
    }
    const size_t total = bits.size() / 8;
    const int remainder = static_cast<int>(bits.size() % 8);
    if (remainder != 0 && remainder != 3 && remainder != 4 && remainder != 7) {
        reading.failure = "remainder bits";
        return reading;
    }
    std::vector<uint8_t> codewords(total);
    for (size_t i = 0; i < total * 8; ++i) {
        codewords[i / 8] = static_cast<uint8_t>(codewords[i / 8] << 1 | bits[i]);
    }

    // De-interleave and check that every block has zero syndromes.
    const VersionParams& params = VersionParamTable[version - 1];
    const int l = reading.level - 1;
    const int group1 = params.blocks1[l];
    const int blocks = group1 + params.blocks2[l];
    const int ecPerBlock = params.codewords1[l] - params.data1[l];
    std::vector<std::vector<uint8_t>> data(static_cast<size_t>(blocks));
    std::vector<std::vector<uint8_t>> ec(static_cast<size_t>(blocks));
    size_t next = 0;
    for (int i = 0; i <= params.data1[l]; ++i) {
        for (int b = (i == params.data1[l] ? group1 : 0); b < blocks; ++b) {
            data[static_cast<size_t>(b)].push_back(codewords.at(next++));
        }
    }
    for (int i = 0; i < ecPerBlock; ++i) {
        for (int b = 0; b < blocks; ++b) {
            ec[static_cast<size_t>(b)].push_back(codewords.at(next++));
        }
    }
    if (next != total) {
        reading.failure = "codeword count";
        return reading;
    }
    for (int b = 0; b < blocks; ++b) {
        std::vector<uint8_t> block = data[static_cast<size_t>(b)];
        block.insert(block.end(), ec[static_cast<size_t>(b)].begin(),
                     ec[static_cast<size_t>(b)].end());
        for (int root = 0, x = 1; root < ecPerBlock; ++root, x = GfMultiply(x, 2)) {
            int value = 0;
            for (uint8_t codeword : block) {
                value = GfMultiply(value, x) ^ codeword;
            }
            if (value != 0) {
                reading.failure = "syndrome of block " + std::to_string(b);
                return reading;
            }
        }
        reading.data.insert(reading.data.end(), data[static_cast<size_t>(b)].begin(),
                            data[static_cast<size_t>(b)].end());
    }
    return reading;
}
