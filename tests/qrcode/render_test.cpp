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

struct DrawCase {
    int version;
    int cellSize;
    int x;
    int y;
    int canvasSide;  // 0: just large enough
    uint32_t flags;
    uint32_t createFlags;
};

// Draws a symbol at (x, y) of a black canvas and checks every pixel: the
// symbol's modules inside a light quiet zone of 4 × cell + 1 pixels, the
// canvas untouched around the drawn square. A canvas too small for the
// square keeps the part of the drawing that falls on it. With IMAGE_FROM_TOP
// y counts from the top line.
void CheckDrawing(const DrawCase& c) {
    SCOPED_TRACE(testing::Message() << "version " << c.version << " cell " << c.cellSize << " at "
                                    << c.x << "," << c.y << " flags " << c.flags);
    ScratchDir scratch;
    const int cell = c.cellSize == 0 ? 1 : c.cellSize;
    const int side = c.canvasSide > 0 ? c.canvasSide : 185 * cell + 2 + c.x;
    Image* canvas = ImageCreate(c.createFlags, side, side, 3, 0, 0, "canvas.spill");
    ASSERT_NE(canvas, nullptr);
    ASSERT_EQ(EncodeMatrix(canvas, 0, c.version, QR_LEVEL_M, 0, "DRAW").result, 0);
    const int n = canvas->moduleCount;
    const std::vector<uint8_t> modules(canvas->modules, canvas->modules + n * n);
    ImageSetCellSize(0, canvas, c.cellSize);
    const int drawn = DrawSymbol(c.flags, canvas, c.x, c.y);
    EXPECT_EQ(drawn, (n + 8) * cell + 2);
    EXPECT_EQ(canvas->modules, nullptr);
    EXPECT_EQ(canvas->moduleKinds, nullptr);
    const int margin = 4 * cell + 1;
    const bool fromTop = (c.flags & IMAGE_FROM_TOP) != 0;
    // The square's top line, counted from the bottom.
    const int squareTop = fromTop ? side - 1 - c.y : c.y + drawn - 1;
    int wrong = 0;
    for (int py = 0; py < side; ++py) {
        for (int px = 0; px < side; ++px) {
            int expected = 0;  // canvas outside the drawn square
            const int ax = px - c.x;
            const int top = squareTop - py;  // row inside the square, from its top
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
    EXPECT_EQ(PixelValue(canvas, c.x + margin, squareTop - margin), 0);  // top-left module
    ImageFree(canvas);
}

TEST(RenderTest, PixelsQuietZoneAndPlacement) {
    const DrawCase cases[] = {
        {1, 1, 0, 0, 0, 0, 0},   // 31
        {1, 4, 0, 0, 0, 0, 0},   // 118
        {1, 0, 0, 0, 0, 0, 0},   // drawn as cell size 1
        {40, 1, 0, 0, 0, 0, 0},  // 187, the whole canvas
        {3, 2, 6, 9, 0, 0, 0},
        {2, 3, 20, 30, 80, 0, 0},  // reaches past the top and the right edge
        {1, 2, 0, 0, 40, 0, 0},
        {3, 2, 6, 9, 0, IMAGE_FROM_TOP, 0},
        {2, 3, 20, 30, 80, IMAGE_FROM_TOP, 0},  // past the bottom and the right edge
        {2, 3, 5, 7, 0, 0, IMAGE_FILE_BACKED},
        {2, 3, 20, 30, 80, 0, IMAGE_FILE_BACKED},
    };
    for (const DrawCase& c : cases) {
        CheckDrawing(c);
    }
}

// Drawing needs no memory of its own; only the extra-verbose picture does.
// A store that fails its writes is reported by the part being drawn: the
// quiet zone, or a symbol line where the square's lowest rows fall off the
// canvas and a symbol line comes first.
TEST(RenderTest, FailuresReleaseTheMatrix) {
    ScratchDir scratch;
    struct Case {
        uint32_t flags;
        uint32_t createFlags;
        int channels;
        int y;
        bool failWrites;
        int expected;
    } cases[] = {
        {0, 0, 3, 0, false, 31},
        {IMAGEFLAG_VERBOSE2, 0, 3, 0, false, QR_ERR_PICTURE},
        {0, 0, 1, 0, false, QR_ERR_PASTE},  // a grey canvas
        {0, IMAGE_FILE_BACKED, 3, 0, true, QR_ERR_FILL},
        {0, IMAGE_FILE_BACKED, 3, -5, true, QR_ERR_PASTE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "expected " << c.expected);
        Image* canvas = ImageCreate(c.createFlags, 31, 31, c.channels, 0, 0, "canvas.spill");
        ASSERT_NE(canvas, nullptr);
        ASSERT_EQ(EncodeMatrix(canvas, 0, 1, QR_LEVEL_M, 0, "FAIL", c.flags).result, 0);
        std::FILE* writable = canvas->spillFile;
        if (c.failWrites) {
            canvas->spillFile = std::fopen("canvas.spill", "rb");
        }
        MemFailAt(1, true);
        EXPECT_EQ(DrawSymbol(0, canvas, 0, c.y), c.expected);
        MemFailAt(0);
        EXPECT_EQ(canvas->modules, nullptr);
        EXPECT_EQ(canvas->moduleKinds, nullptr);
        if (c.failWrites) {
            std::fclose(canvas->spillFile);
            canvas->spillFile = writable;
        }
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
