#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "diag/memory.h"
#include "qrcode/qrcode.h"
#include "tests/qrcode/qr_test_util.h"
#include "tests/support/test_support.h"
#include "zemqrfile.h"

namespace {

// Blue byte of pixel (x, y), y counted from the bottom line.
int PixelValue(const Image* image, int x, int y) {
    uint8_t pixel[3] = {};
    EXPECT_EQ(ImageReadBytes(image, ImagePixelOffset(0, image, x, y), 1, 3, pixel), 0);
    EXPECT_TRUE(pixel[0] == pixel[1] && pixel[1] == pixel[2]);
    return pixel[0];
}

// Draws a symbol at (x, y) of a black canvas and checks every pixel: the
// symbol's modules inside a light quiet zone of 4 × cell + 1 pixels, the
// canvas untouched around the drawn square. A canvas too small for the
// square keeps the part of the drawing that falls on it.
void CheckDrawing(int version, int cellSize, int x, int y, int canvasSide = 0) {
    SCOPED_TRACE(testing::Message() << "version " << version << " cell " << cellSize);
    const int cell = cellSize == 0 ? 1 : cellSize;
    const int side = canvasSide > 0 ? canvasSide : 185 * cell + 2 + x;
    Image* canvas = ImageCreate(0, side, side, 3, 0, 0, nullptr);
    ASSERT_NE(canvas, nullptr);
    ASSERT_EQ(EncodeMatrix(canvas, 0, version, QR_LEVEL_M, 0, "DRAW").result, 0);
    const int n = canvas->moduleCount;
    const std::vector<uint8_t> modules(canvas->modules, canvas->modules + n * n);
    ImageSetCellSize(0, canvas, cellSize);
    const int drawn = DrawSymbol(0, canvas, x, y);
    EXPECT_EQ(drawn, (n + 8) * cell + 2);
    EXPECT_EQ(canvas->modules, nullptr);
    EXPECT_EQ(canvas->moduleKinds, nullptr);
    const int margin = 4 * cell + 1;
    int wrong = 0;
    for (int py = 0; py < side; ++py) {
        for (int px = 0; px < side; ++px) {
            int expected = 0;  // canvas outside the drawn square
            const int ax = px - x;
            const int top = y + drawn - 1 - py;  // row inside the square, from its top
            if (ax >= 0 && ax < drawn && top >= 0 && top < drawn) {
                const int sx = ax - margin;
                const int sy = top - margin;
                const bool inSymbol = sx >= 0 && sy >= 0 && sx < n * cell && sy < n * cell;
                expected = inSymbol && modules[(sy / cell) * n + sx / cell] != 0 ? 0 : 255;
            }
            wrong += PixelValue(canvas, px, py) != expected ? 1 : 0;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(PixelValue(canvas, x + margin, y + drawn - 1 - margin), 0);  // top-left module
    ImageFree(canvas);
}

TEST(RenderTest, PixelsQuietZoneAndPlacement) {
    CheckDrawing(1, 1, 0, 0);   // 31
    CheckDrawing(1, 4, 0, 0);   // 118
    CheckDrawing(1, 0, 0, 0);   // drawn as cell size 1
    CheckDrawing(40, 1, 0, 0);  // 187, the whole canvas
    CheckDrawing(3, 2, 6, 9);
    CheckDrawing(2, 3, 20, 30, 80);  // reaches past the top and the right edge
    CheckDrawing(1, 2, 0, 0, 40);
}

TEST(RenderTest, FailuresReleaseTheMatrix) {
    for (int call = 1; call <= 2; ++call) {
        Image* canvas = ImageCreate(IMAGE_FILL_WHITE, 187, 187, 3, 0, 0, nullptr);
        ASSERT_NE(canvas, nullptr);
        ASSERT_EQ(EncodeMatrix(canvas, 0, 1, QR_LEVEL_M, 0, "FAIL").result, 0);
        MemFailAt(call);
        const int result = DrawSymbol(0, canvas, 0, 0);
        MemFailAt(0);
        EXPECT_EQ(result, call == 1 ? QR_ERR_PICTURE : QR_ERR_FILL);
        EXPECT_EQ(canvas->modules, nullptr);
        EXPECT_EQ(canvas->moduleKinds, nullptr);
        ImageFree(canvas);
    }
    // A cell size too large for any picture.
    Image* canvas = ImageCreate(IMAGE_FILL_WHITE, 31, 31, 3, 0, 0, nullptr);
    ASSERT_NE(canvas, nullptr);
    ImageSetCellSize(0, canvas, 1 << 28);
    EXPECT_EQ(QRCode(0, canvas, 0, 0, 0, 0, QR_LEVEL_M, reinterpret_cast<const uint8_t*>("BIG"), 3),
              QR_ERR_PICTURE);
    EXPECT_EQ(canvas->modules, nullptr);
    ImageFree(canvas);
}

// A second, independent decoder reads the drawn symbol from a file.
TEST(RenderTest, ZbarReadsTheDrawing) {
    ScratchDir scratch;
    const std::string message = "zemQRCode \x82\xA0\x82\xA2 0123456789";
    Image* canvas = ImageCreate(IMAGE_FILL_WHITE, 742, 742, 3, 0, 0, nullptr);
    ASSERT_NE(canvas, nullptr);
    ImageSetCellSize(0, canvas, 4);
    const int side =
        QRCode(0, canvas, 0, 0, 0, 0, QR_LEVEL_Q, reinterpret_cast<const uint8_t*>(message.data()),
               static_cast<int>(message.size()));
    ASSERT_GT(side, 0);
    Image* cropped = ImageCrop(IMAGE_CONSUME_SOURCE, canvas, nullptr, 0, 0, side, side);
    ASSERT_NE(cropped, nullptr);
    ASSERT_EQ(ImageWriteBmp(0, "symbol.bmp", cropped), 0);
    EXPECT_EQ(DecodeQrFileWithZbar("symbol.bmp"), message);
    ImageFree(cropped);
}

TEST(RenderTest, SecondVerboseLevelStoresTheBareSymbol) {
    ScratchDir scratch;
    const auto* message = reinterpret_cast<const uint8_t*>("DEBUG");
    Image* canvas = ImageCreate(IMAGE_FILL_WHITE, 742, 742, 3, 0, 0, nullptr);
    ASSERT_NE(canvas, nullptr);
    ImageSetCellSize(0, canvas, 4);
    ASSERT_EQ(QRCode(IMAGEFLAG_VERBOSE, canvas, 0, 0, 0, 1, QR_LEVEL_M, message, 5), 118);
    EXPECT_FALSE(ReadWholeFile("qr.png").has_value());
    ASSERT_EQ(QRCode(IMAGEFLAG_VERBOSE2, canvas, 0, 0, 0, 1, QR_LEVEL_M, message, 5), 118);
    Image* bare = ImageReadPng(0, "qr.png", nullptr);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->info.width, 84);
    EXPECT_EQ(bare->info.height, 84);
    int different = 0;  // against the symbol drawn 17 pixels in on the canvas
    for (int y = 0; y < 84; ++y) {
        for (int x = 0; x < 84; ++x) {
            different += PixelValue(bare, x, y) != PixelValue(canvas, 17 + x, 17 + y) ? 1 : 0;
        }
    }
    EXPECT_EQ(different, 0);
    EXPECT_EQ(PixelValue(bare, 0, 83), 0);  // the top-left finder, no quiet zone
    ImageFree(bare);
    // A debug file that cannot be written changes nothing.
    ASSERT_EQ(std::remove("qr.png"), 0);
    ASSERT_EQ(mkdir("qr.png", 0700), 0);
    EXPECT_EQ(QRCode(IMAGEFLAG_VERBOSE2, canvas, 0, 0, 0, 1, QR_LEVEL_M, message, 5), 118);
    EXPECT_EQ(DecodeQrImage(canvas), "DEBUG");
    ImageFree(canvas);
}

}  // namespace
