#include "bench/bench_support.h"

#include <cstdlib>

#include "qrcode/qrcode.h"

namespace {

// Printable text that no automatic mode choice takes for anything but 8-bit.
std::string TextOfLength(int length) {
    static constexpr char kWords[] =
        "the quick brown fox jumps over the lazy dog; zem makes qr codes from text. ";
    std::string text;
    while (static_cast<int>(text.size()) < length) {
        text += kWords;
    }
    text.resize(static_cast<std::size_t>(length));
    return text;
}

}  // namespace

BenchMessage HelloMessage() {
    return {"HELLO", "HELLO", QR_LEVEL_M};
}

BenchMessage Version10Message() {
    return {"V10-M", TextOfLength(DataCapacity(QR_MODE_EIGHT_BIT, 10, QR_LEVEL_M)), QR_LEVEL_M};
}

BenchMessage Version40Message() {
    return {"V40-L", FullMessage(40), QR_LEVEL_L};
}

std::string FullMessage(int version) {
    return TextOfLength(DataCapacity(QR_MODE_EIGHT_BIT, version, QR_LEVEL_L));
}

int EncodeToMatrix(Image* image, const std::string& message, int level) {
    const auto* data = reinterpret_cast<const uint8_t*>(message.data());
    const int byteCount = static_cast<int>(message.size());
    const int mode = DetectDataMode(0, data, byteCount);
    int count = 0;
    const int version = SelectVersion(image, mode, 0, level, data, byteCount, &count);
    return EncodeSymbol(image, mode, version, level, data, count);
}

Image* MakeDrawing(const std::string& message, int level, int cellSize) {
    const int side = 185 * cellSize + 2;
    Image* work = ImageCreate(IMAGE_NO_FILL | IMAGE_FILL_WHITE, side, side, 3, 0, 0, nullptr);
    if (work == nullptr) {
        return nullptr;
    }
    work->cellSize = cellSize;
    const int drawn =
        QRCode(0, work, 0, 0, 0, 0, level, reinterpret_cast<const uint8_t*>(message.data()),
               static_cast<int>(message.size()));
    Image* drawing =
        drawn > 0 ? ImageCrop(IMAGE_CONSUME_SOURCE, work, nullptr, 0, 0, drawn, drawn) : nullptr;
    if (drawing == nullptr) {
        ImageFree(work);
    }
    return drawing;
}

std::string BenchPath(const char* fileName) {
    const char* dir = std::getenv("ZEM_BENCH_DIR");
    return std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/" + fileName;
}
