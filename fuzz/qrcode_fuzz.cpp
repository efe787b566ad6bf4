// The encoder on arbitrary message bytes with arbitrary mode, version, level,
// mask and a small cell size, drawing into an Image that is sometimes too
// small or has the origin outside it. Every call must give a side or one of
// the encoder's codes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "diag/memory.h"
#include "fuzz/fuzz_input.h"
#include "include/zemqrfile.h"
#include "qrcode/qrcode.h"

namespace {

bool IsEncoderCode(int result) {
    return result == QR_ERR_MODULES || result == QR_ERR_MODULE_KINDS || result == QR_ERR_PICTURE ||
           result == QR_ERR_FILL || result == QR_ERR_PASTE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in{data, size};
    const auto shape = in.Take<uint32_t>();
    const int mode = in.Take<int8_t>();
    const int version = in.Take<int8_t>();
    const int level = in.Take<int8_t>();
    const int maskPattern = in.Take<int8_t>();
    const int byteCount = in.Take<int16_t>();
    const int cellSize = 1 + static_cast<int>(shape & 3);
    // Mostly the file operation's setting: room for the largest symbol at
    // the origin. Otherwise a smaller Image or an origin off to one side.
    const bool roomy = (shape & 0x30) != 0x30;
    const int side = roomy ? cellSize * 185 + 2 : 1 + static_cast<int>((shape >> 8) % 400);
    const int x = roomy ? 0 : static_cast<int8_t>(shape >> 16);
    const int y = roomy ? 0 : static_cast<int8_t>(shape >> 24);
    // The text flags only: the verbose bits print and write qr.png.
    const uint32_t flags =
        ((shape & 4) != 0 ? IMAGEFLAG_TEXT : 0) | ((shape & 0x40) != 0 ? QR_FLAG_UTF8_TEXT : 0);

    // The message must be terminated: a count of 0 or less means "up to the NUL".
    auto* message = static_cast<uint8_t*>(std::malloc(in.size + 1));
    std::memcpy(message, in.data, in.size);
    message[in.size] = 0;
    const int count = byteCount > static_cast<int>(in.size) ? static_cast<int>(in.size) : byteCount;

    Image* image = ImageCreate(IMAGE_NO_FILL | IMAGE_FILL_WHITE, side, side, (shape & 8) ? 1 : 3, 0,
                               0, nullptr);
    if (image == nullptr) {
        std::abort();
    }
    ImageSetCellSize(0, image, cellSize);
    ImageSetMaskPattern(0, image, maskPattern);
    const int result = QRCode(flags, image, x, y, mode, version, level, message, count);
    if (result <= 0 && !IsEncoderCode(result)) {
        std::abort();
    }
    if (image->modules != nullptr || image->moduleKinds != nullptr) {
        std::abort();  // the module planes must be gone on every path
    }
    ImageFree(image);
    std::free(message);
    return 0;
}
