#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "diag/memory.h"
#include "image/image.h"
#include "tests/image/image_test_util.h"
#include "tests/support/test_support.h"

namespace {

long FileSize(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 ? static_cast<long>(status.st_size) : -1;
}

TEST(ImageCreateTest, WorkImageOfTheQrPath) {
    Image* image = ImageCreate(0x1001, 187, 187, 3, 0, 0, nullptr);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->info.bitCount, 24);
    EXPECT_EQ(image->info.sizeImage, 105468u);
    EXPECT_EQ(ImagePixelOffset(0, image, 0, 1), 564) << "row stride";
    EXPECT_EQ(image->info.coloursUsed, 0u);
    EXPECT_EQ(image->createFlags, 0x1001u);
    EXPECT_EQ(image->spillFile, nullptr);
    EXPECT_EQ(image->lightColour[0], 255);
    ImageSetCellSize(0, image, 4);
    ImageSetMaskPattern(0, image, 9);
    EXPECT_EQ(image->cellSize, 4);
    EXPECT_EQ(image->maskPattern, 9);
    ImageFree(image);
}

TEST(ImageCreateTest, RowsArePaddedToFourBytes) {
    Image* grey = ImageCreate(0, 5, 2, 1, 3780, 2835, nullptr);
    Image* colour = ImageCreate(0, 5, 2, 3, 0, 0, nullptr);
    ASSERT_NE(grey, nullptr);
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(grey->info.sizeImage, 16u);
    EXPECT_EQ(colour->info.sizeImage, 32u);
    EXPECT_EQ(grey->info.xPelsPerMetre, 3780);
    EXPECT_EQ(grey->info.yPelsPerMetre, 2835);
    EXPECT_EQ(grey->info.coloursUsed, 256u);
    for (int i = 0; i < 256; ++i) {
        const RgbQuad& entry = grey->palette[i];
        ASSERT_TRUE(entry.blue == i && entry.green == i && entry.red == i && entry.reserved == 0);
    }
    ImageFree(grey);
    ImageFree(colour);
}

TEST(ImageCreateTest, ChannelsAndSizesOutOfRange) {
    for (int channels : {0, 2, 4, -1}) {
        Image* image = ImageCreate(0, 2, 2, channels, 0, 0, nullptr);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->info.bitCount, 24) << channels;
        ImageFree(image);
    }
    EXPECT_EQ(ImageCreate(0, 0, 5, 3, 0, 0, nullptr), nullptr);
    EXPECT_EQ(ImageCreate(0, 5, -1, 3, 0, 0, nullptr), nullptr);
    // Row stride or image size beyond a signed 32-bit integer: never a short block.
    const long before = MemAllocCalls();
    EXPECT_EQ(ImageCreate(0, 0x7FFFFFFF, 1, 1, 0, 0, nullptr), nullptr);
    EXPECT_EQ(ImageCreate(0, 0x30000000, 1, 3, 0, 0, nullptr), nullptr);
    EXPECT_EQ(ImageCreate(0, 50000, 50000, 1, 0, 0, nullptr), nullptr);
    // Both sides huge: the size must not overflow while it is worked out.
    EXPECT_EQ(ImageCreate(0, 0x7FFFFFFF, 0x7FFFFFFF, 3, 0, 0, nullptr), nullptr);
    EXPECT_EQ(ImageCreate(IMAGE_FILE_BACKED, 50000, 50000, 3, 0, 0, "x"), nullptr);
    EXPECT_EQ(MemAllocCalls(), before);
}

TEST(ImageCreateTest, FillByte) {
    ScratchDir scratch;
    for (uint32_t backing : {0u, IMAGE_FILE_BACKED}) {
        Image* black = ImageCreate(backing, 3, 3, 3, 0, 0, "black");
        Image* white = ImageCreate(backing | IMAGE_FILL_WHITE, 3, 3, 3, 0, 0, "white");
        ASSERT_NE(black, nullptr);
        ASSERT_NE(white, nullptr);
        EXPECT_EQ(StoreBytes(black), std::vector<uint8_t>(36, 0));
        EXPECT_EQ(StoreBytes(white), std::vector<uint8_t>(36, 0xFF));
        ImageFree(black);
        ImageFree(white);
    }
}

TEST(ImageCreateTest, SpillFileLivesAsLongAsTheImage) {
    ScratchDir scratch;
    // Even without a fill the spill file has its full size, so every read finds bytes.
    Image* image = ImageCreate(IMAGE_FILE_BACKED | IMAGE_NO_FILL, 100, 30, 3, 0, 0, "store.spill");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels, nullptr);
    EXPECT_STREQ(image->spillPath, "store.spill");
    EXPECT_EQ(FileSize("store.spill"), 9000);
    ImageFree(image);
    EXPECT_EQ(FileSize("store.spill"), -1);
    ImageFree(nullptr);

    EXPECT_EQ(ImageCreate(IMAGE_FILE_BACKED, 4, 4, 3, 0, 0, "no/such/dir/spill"), nullptr);
    EXPECT_EQ(ImageCreate(IMAGE_FILE_BACKED, 4, 4, 3, 0, 0, nullptr), nullptr);
    const std::string longPath(kSpillPathSize, 'p');
    EXPECT_EQ(ImageCreate(IMAGE_FILE_BACKED, 4, 4, 3, 0, 0, longPath.c_str()), nullptr);

    for (int n = 1; n <= 2; ++n) {  // the record, then every size of fill block
        MemFailAt(n, true);
        EXPECT_EQ(ImageCreate(IMAGE_FILE_BACKED, 4, 4, 3, 0, 0, "store.spill"), nullptr);
        MemFailAt(0);
        EXPECT_EQ(FileSize("store.spill"), -1);
    }
    MemFailAt(1);
    EXPECT_EQ(ImageCreate(0, 4, 4, 3, 0, 0, nullptr), nullptr);
    MemFailAt(0);
}

TEST(ImageCreateTest, SpillFileThatCannotBeFilled) {
    ScratchDir scratch;
    ASSERT_EQ(symlink("/dev/full", "full.spill"), 0);
    EXPECT_EQ(ImageCreate(IMAGE_FILE_BACKED, 64, 64, 3, 0, 0, "full.spill"), nullptr);
}

TEST(PixelAccessTest, OffsetsAreClampedIntoTheImage) {
    Image* image = ImageCreate(0, 10, 10, 3, 0, 0, nullptr);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(ImagePixelOffset(0, image, -5, 1000), 9 * 32);
    EXPECT_EQ(ImagePixelOffset(IMAGE_FROM_TOP, image, 0, 0), 9 * 32);
    EXPECT_EQ(ImagePixelOffset(0, image, 3, 2), 2 * 32 + 9);
    EXPECT_EQ(ImagePixelOffset(IMAGE_FROM_TOP, image, 3, 2), 7 * 32 + 9);
    EXPECT_EQ(ImagePixelOffset(IMAGE_FROM_TOP, image, 99, -3), 9 * 32 + 27);

    struct Rect {
        int x, y, width, height;
    };
    const struct {
        Rect in, out;
    } cases[] = {
        {{8, 0, 0, 0}, {8, 0, 2, 10}},    {{8, 0, 5, 3}, {8, 0, 2, 3}},
        {{-5, 2, 4, -1}, {0, 2, 4, 8}},   {{3, 20, 2, 2}, {3, 9, 2, 1}},
        {{0, 0, 10, 10}, {0, 0, 10, 10}},
    };
    for (const auto& c : cases) {
        Rect r = c.in;
        EXPECT_EQ(ImageClipRect(image, &r.x, &r.y, &r.width, &r.height), 3);
        EXPECT_TRUE(r.x == c.out.x && r.y == c.out.y && r.width == c.out.width &&
                    r.height == c.out.height)
            << r.x << " " << r.y << " " << r.width << " " << r.height;
    }
    ImageFree(image);
}

TEST(PixelAccessTest, ByteAccessStaysInsideTheStore) {
    ScratchDir scratch;
    for (uint32_t backing : {0u, IMAGE_FILE_BACKED}) {
        Image* image = ImageCreate(backing, 3, 2, 1, 0, 0, "store.spill");
        ASSERT_NE(image, nullptr);
        const uint8_t bytes[4] = {1, 2, 3, 4};
        EXPECT_EQ(ImageWriteBytes(image, 2, 2, 2, bytes), 0);
        uint8_t back[4] = {};
        EXPECT_EQ(ImageReadBytes(image, 2, 1, 4, back), 0);
        EXPECT_EQ(std::vector<uint8_t>(back, back + 4), std::vector<uint8_t>(bytes, bytes + 4));
        EXPECT_EQ(ImageWriteBytes(image, 6, 1, 3, bytes), -1);
        EXPECT_EQ(ImageWriteBytes(image, -1, 1, 1, bytes), -1);
        EXPECT_EQ(ImageWriteBytes(image, 0, 1, -1, bytes), -1);
        EXPECT_EQ(ImageReadBytes(image, 8, 1, 1, back), -1);
        EXPECT_EQ(StoreBytes(image), (std::vector<uint8_t>{0, 0, 1, 2, 3, 4, 0, 0}));
        ImageFree(image);
    }
}

TEST(PixelAccessTest, CopyBetweenEveryKindOfStore) {
    ScratchDir scratch;
    // 3000 pixels a row: more than the copy's own 8 KiB stage between spill files.
    for (uint32_t from : {0u, IMAGE_FILE_BACKED}) {
        for (uint32_t to : {0u, IMAGE_FILE_BACKED}) {
            Image* source = ImageCreate(from, 3000, 2, 3, 0, 0, "source.spill");
            Image* destination = ImageCreate(to, 3000, 2, 3, 0, 0, "destination.spill");
            ASSERT_NE(source, nullptr);
            ASSERT_NE(destination, nullptr);
            FillPattern(source);
            const int row = ImagePixelOffset(0, source, 0, 1);
            EXPECT_EQ(ImageCopyBytes(destination, 0, source, row, 3, 3000), 0);
            EXPECT_EQ(PixelAt(destination, 2999, 0), PatternPixel(source, 2999, 1));
            EXPECT_EQ(ImageCopyBytes(destination, row + 3, source, 0, 3, 3000), -1);
            MemFailAt(1, true);
            const int copied = ImageCopyBytes(destination, row, source, row, 3, 3000);
            MemFailAt(0);
            const bool staged = from != 0 && to != 0;
            EXPECT_EQ(copied, staged ? -1 : 0);
            EXPECT_EQ(PixelAt(destination, 5, 1),
                      staged ? std::vector<uint8_t>(3, 0) : PatternPixel(source, 5, 1));
            ImageFree(source);
            ImageFree(destination);
        }
    }
}

TEST(AllocShrinkingTest, HalvesDownToTheMinimum) {
    std::size_t obtained = 0;
    MemFailAt(1);
    void* block = AllocShrinking(4096, 256, &obtained);
    MemFailAt(0);
    EXPECT_NE(block, nullptr);
    EXPECT_EQ(obtained, 2048u);
    MemFree(block);

    const long before = MemAllocCalls();
    MemFailAt(1, true);
    EXPECT_EQ(AllocShrinking(4096, 256, &obtained), nullptr);
    MemFailAt(0);
    EXPECT_EQ(obtained, 0u);
    EXPECT_EQ(MemAllocCalls() - before, 5) << "4096, 2048, 1024, 512, 256";
}

}  // namespace
