#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "diag/memory.h"
#include "image/image.h"
#include "tests/image/file_size_limit.h"
#include "tests/image/image_test_util.h"
#include "tests/support/test_support.h"

namespace {

Image* PatternImage(uint32_t flags, int width, int height, int channels) {
    Image* image = ImageCreate(flags, width, height, channels, 2835, 1417, "pattern.spill");
    EXPECT_NE(image, nullptr);
    if (image != nullptr) {
        FillPattern(image);
    }
    return image;
}

// A BMP file built field by field: 8-bit files get a palette of `colours`
// entries (k, 2k, 3k, 0), pixels are x + 16y (8-bit) or x, y, x + y (24-bit).
std::string CraftBmp(int width, int height, int bitCount, uint32_t colours = 0,
                     uint32_t headerSize = 40) {
    const uint32_t paletteBytes = 4 * colours;
    const uint32_t stride = (bitCount * width + 31) / 32 * 4;
    const uint32_t offset = 14 + headerSize + paletteBytes;
    std::string bytes(offset + stride * height, '\0');
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutLe32(bytes, 2, static_cast<uint32_t>(bytes.size()));
    PutLe32(bytes, 10, offset);
    PutLe32(bytes, 14, headerSize);
    PutLe32(bytes, 18, width);
    PutLe32(bytes, 22, height);
    bytes[26] = 1;
    bytes[28] = static_cast<char>(bitCount);
    PutLe32(bytes, 34, stride * height);
    PutLe32(bytes, 46, colours);
    for (uint32_t k = 0; k < colours; ++k) {
        const size_t at = 14 + headerSize + 4 * k;
        bytes[at] = static_cast<char>(k);
        bytes[at + 1] = static_cast<char>(2 * k);
        bytes[at + 2] = static_cast<char>(3 * k);
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t at = offset + y * stride + x * bitCount / 8;
            if (bitCount == 8) {
                bytes[at] = static_cast<char>(x + 16 * y);
            } else {
                bytes[at] = static_cast<char>(x);
                bytes[at + 1] = static_cast<char>(y);
                bytes[at + 2] = static_cast<char>(x + y);
            }
        }
    }
    return bytes;
}

void ExpectSameImage(const Image* read, const Image* written) {
    EXPECT_EQ(std::memcmp(&read->info, &written->info, sizeof read->info), 0);
    EXPECT_EQ(std::memcmp(read->palette, written->palette, sizeof read->palette), 0);
    EXPECT_EQ(StoreBytes(read), StoreBytes(written));
}

TEST(BmpWriteTest, OnePixelFileLayout) {
    ScratchDir scratch;
    Image* image = ImageCreate(0, 1, 1, 3, 2835, 1417, nullptr);
    ASSERT_NE(image, nullptr);
    const uint8_t pixel[3] = {0x11, 0x22, 0x33};
    ImageWriteBytes(image, 0, 1, 3, pixel);
    ASSERT_EQ(ImageWriteBmp(0, "one.bmp", image), 0);
    const std::string file = FileBytes("one.bmp");
    ASSERT_EQ(file.size(), 58u);
    EXPECT_EQ(file.substr(0, 2), "BM");
    EXPECT_EQ(Le32(file, 2), 58u) << "file size field must be the true size";
    EXPECT_EQ(Le32(file, 6), 0u);
    EXPECT_EQ(Le32(file, 10), 54u);
    EXPECT_EQ(Le32(file, 14), 40u);
    EXPECT_EQ(Le32(file, 18), 1u);
    EXPECT_EQ(Le32(file, 22), 1u);
    EXPECT_EQ(Le16(file, 26), 1);
    EXPECT_EQ(Le16(file, 28), 24);
    EXPECT_EQ(Le32(file, 30), 0u);
    EXPECT_EQ(Le32(file, 34), 4u);
    EXPECT_EQ(Le32(file, 38), 2835u);
    EXPECT_EQ(Le32(file, 42), 1417u);
    EXPECT_EQ(Le32(file, 46), 0u);
    EXPECT_EQ(Le32(file, 50), 0u);
    EXPECT_EQ(file.substr(54), std::string("\x11\x22\x33\0", 4));
    ImageFree(image);
}

TEST(BmpWriteTest, RowsArePaddedAndStoredBottomUp) {
    ScratchDir scratch;
    Image* image = PatternImage(0, 5, 3, 3);
    ASSERT_EQ(ImageWriteBmp(0, "five.bmp", image), 0);
    const std::string file = FileBytes("five.bmp");
    ASSERT_EQ(file.size(), 54u + 3 * 16);
    EXPECT_EQ(Le32(file, 2), file.size());
    EXPECT_EQ(Le32(file, 34), 48u);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            for (int l = 0; l < 3; ++l) {
                EXPECT_EQ(static_cast<uint8_t>(file[54 + 16 * y + 3 * x + l]),
                          PatternByte(x, y, l));
            }
        }
        EXPECT_EQ(file[54 + 16 * y + 15], 0) << "filler byte of row " << y;
    }
    ImageFree(image);
}

TEST(BmpWriteTest, GreyImageCarriesItsRamp) {
    ScratchDir scratch;
    Image* image = PatternImage(0, 3, 2, 1);
    ASSERT_EQ(ImageWriteBmp(0, "grey.bmp", image), 0);
    const std::string file = FileBytes("grey.bmp");
    ASSERT_EQ(file.size(), 1078u + 8);
    EXPECT_EQ(Le32(file, 2), file.size());
    EXPECT_EQ(Le32(file, 10), 1078u);
    EXPECT_EQ(Le16(file, 28), 8);
    EXPECT_EQ(Le32(file, 46), 256u);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(Le32(file, 54 + 4 * i), static_cast<uint32_t>(i * 0x010101)) << i;
    }
    EXPECT_EQ(static_cast<uint8_t>(file[1078 + 4 + 2]), PatternByte(2, 1, 0));
    ImageFree(image);
}

TEST(BmpWriteTest, FileBackedImageGivesTheSameFile) {
    ScratchDir scratch;
    // Larger than one copy block, and once more with the block halved.
    Image* memory = PatternImage(0, 700, 600, 3);
    Image* spilled = ImageCreate(IMAGE_FILE_BACKED, 700, 600, 3, 2835, 1417, "spilled.spill");
    ASSERT_NE(spilled, nullptr);
    ASSERT_EQ(ImagePaste(0, spilled, 0, 0, memory, 0, 0, 0, 0), 0);
    ASSERT_EQ(ImageWriteBmp(0, "memory.bmp", memory), 0);
    ASSERT_EQ(ImageWriteBmp(0, "spilled.bmp", spilled), 0);
    MemFailAt(1);
    ASSERT_EQ(ImageWriteBmp(0, "halved.bmp", spilled), 0);
    MemFailAt(0);
    const std::string expected = FileBytes("memory.bmp");
    EXPECT_EQ(expected.size(), 54u + 2100 * 600);
    EXPECT_TRUE(FileBytes("spilled.bmp") == expected);
    EXPECT_TRUE(FileBytes("halved.bmp") == expected);
    ImageFree(memory);
    ImageFree(spilled);
}

TEST(BmpWriteTest, FailuresGiveTheCodeOfTheirStage) {
    ScratchDir scratch;
    Image* memory = PatternImage(0, 8, 8, 3);
    Image* spilled = PatternImage(IMAGE_FILE_BACKED, 8, 8, 3);
    EXPECT_EQ(ImageWriteBmp(0, "no/such/dir/x.bmp", memory), IMAGE_BMP_ERR_OPEN);
    EXPECT_NE(access("no", F_OK), 0);

    ASSERT_EQ(symlink("/dev/full", "full.bmp"), 0);
    EXPECT_EQ(ImageWriteBmp(0, "full.bmp", memory), IMAGE_BMP_ERR_FILE_HEADER);
    EXPECT_EQ(ImageWriteBmp(0, "full.bmp", spilled), IMAGE_BMP_ERR_FILE_HEADER);

    auto write = [](const Image* image) {
        return [image] { return ImageWriteBmp(0, "cut.bmp", image); };
    };
    EXPECT_EQ(WithFileSizeLimit(20, write(memory)), IMAGE_BMP_ERR_INFO_HEADER);
    EXPECT_EQ(WithFileSizeLimit(100, write(memory)), IMAGE_BMP_ERR_PIXELS);
    EXPECT_EQ(WithFileSizeLimit(100, write(spilled)), IMAGE_BMP_ERR_COPY_WRITE);
    EXPECT_EQ(WithFileSizeLimit(54 + 256, write(spilled)), 0);

    MemFailAt(1, true);
    EXPECT_EQ(ImageWriteBmp(0, "nobuffer.bmp", spilled), IMAGE_BMP_ERR_COPY_BUFFER);
    MemFailAt(0);
    ImageFree(memory);
    ImageFree(spilled);
}

TEST(BmpReadTest, ReadsBackWhatWasWritten) {
    ScratchDir scratch;
    for (int channels : {1, 3}) {
        for (uint32_t writeFlags : {0u, IMAGE_FILE_BACKED}) {
            Image* written = PatternImage(writeFlags, 7, 5, channels);
            ASSERT_EQ(ImageWriteBmp(0, "round.bmp", written), 0);
            for (uint32_t readFlags : {0u, IMAGE_FILE_BACKED}) {
                Image* read = ImageReadBmp(readFlags, "round.bmp", "read.spill");
                ASSERT_NE(read, nullptr);
                ExpectSameImage(read, written);
                EXPECT_EQ(read->createFlags, readFlags);
                EXPECT_EQ(read->spillFile != nullptr, readFlags != 0);
                ImageFree(read);
                EXPECT_NE(access("read.spill", F_OK), 0);
            }
            ImageFree(written);
        }
    }
}

TEST(BmpReadTest, ReadsFilesOfOtherWriters) {
    ScratchDir scratch;
    // A two-colour 8-bit file with the fifth header version: the extra header
    // bytes are skipped and the Image keeps a plain 40-byte header.
    WriteFile("v5.bmp", CraftBmp(3, 2, 8, 2, 124));
    Image* indexed = ImageReadBmp(0, "v5.bmp", nullptr);
    ASSERT_NE(indexed, nullptr);
    EXPECT_EQ(indexed->info.size, 40u);
    EXPECT_EQ(indexed->info.coloursUsed, 2u);
    EXPECT_EQ(indexed->info.sizeImage, 8u);
    EXPECT_EQ(indexed->palette[1].green, 2);
    EXPECT_EQ(indexed->palette[1].red, 3);
    EXPECT_EQ(indexed->palette[2].red, 0) << "entries past the file's table stay empty";
    EXPECT_EQ(PixelAt(indexed, 2, 1)[0], 18);
    ASSERT_EQ(ImageWriteBmp(0, "v5-again.bmp", indexed), 0);
    const std::string again = FileBytes("v5-again.bmp");
    EXPECT_EQ(Le32(again, 10), 54u + 8);
    EXPECT_EQ(again.substr(54 + 8), FileBytes("v5.bmp").substr(14 + 124 + 8));
    ImageFree(indexed);

    // 24 bits with an image size field of 0 and a colours-used field that
    // does not apply: the size comes from the geometry.
    std::string colour = CraftBmp(3, 2, 24);
    PutLe32(colour, 34, 0);
    PutLe32(colour, 46, 7);
    WriteFile("colour.bmp", colour);
    Image* rgb = ImageReadBmp(0, "colour.bmp", nullptr);
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(rgb->info.sizeImage, 24u);
    EXPECT_EQ(rgb->info.coloursUsed, 0u);
    EXPECT_EQ(PixelAt(rgb, 2, 1), (std::vector<uint8_t>{2, 1, 3}));
    ImageFree(rgb);
}

TEST(BmpReadTest, RefusesWhatTheImageCannotHold) {
    ScratchDir scratch;
    const std::string good = CraftBmp(3, 2, 24);
    const std::string grey = CraftBmp(3, 2, 8, 256);
    struct Case {
        const char* name;
        std::string bytes;
    };
    auto with = [](std::string bytes, size_t at, uint32_t value, int width = 4) {
        if (width == 2) {
            bytes[at] = static_cast<char>(value);
            bytes[at + 1] = static_cast<char>(value >> 8);
        } else {
            PutLe32(bytes, at, value);
        }
        return bytes;
    };
    const std::vector<Case> cases = {
        {"png signature", "\x89PNG\r\n\x1a\n" + good.substr(8)},
        {"header only", good.substr(0, 54)},
        {"short header", good.substr(0, 30)},
        {"pixels cut short", good.substr(0, good.size() - 1)},
        {"palette cut short", grey.substr(0, 600)},
        {"16 bits", with(good, 28, 16, 2)},
        {"32 bits", with(good, 28, 32, 2)},
        {"4 bits", with(grey, 28, 4, 2)},
        {"run-length", with(grey, 30, 1)},
        {"bit fields", with(good, 30, 3)},
        {"width 0", with(good, 18, 0)},
        {"height 0", with(good, 22, 0)},
        {"300 colours at 8 bits", with(grey, 46, 300)},
        {"negative width", with(good, 18, static_cast<uint32_t>(-3))},
        {"top-down", with(good, 22, static_cast<uint32_t>(-2))},
        {"257 colours", with(grey, 46, 257)},
        {"core header", with(good, 14, 12)},
        {"huge header", with(good, 14, 4096)},
        {"size beyond 32 bits", with(with(good, 18, 40000), 22, 40000)},
        {"stride beyond 32 bits", with(good, 18, 0x7FFFFFF0)},
        {"stride and height both huge", with(with(good, 18, 0x7FFFFFF0), 22, 0x7FFFFFF0)},
        {"pixels past the end", with(good, 10, 60)},
        {"pixels inside the header", with(good, 10, 20)},
        {"pixels inside the palette", with(grey, 10, 100)},
    };
    for (const Case& c : cases) {
        WriteFile("bad.bmp", c.bytes);
        for (uint32_t flags : {0u, IMAGE_FILE_BACKED}) {
            Image* image = ImageReadBmp(flags, "bad.bmp", "bad.spill");
            EXPECT_EQ(image, nullptr) << c.name;
            ImageFree(image);
            EXPECT_NE(access("bad.spill", F_OK), 0) << c.name;
        }
    }
    EXPECT_EQ(ImageReadBmp(0, "missing.bmp", nullptr), nullptr);
    EXPECT_EQ(ImageReadBmp(IMAGE_FILE_BACKED, "bad.bmp", "no/such/dir/spill"), nullptr);
}

TEST(BmpReadTest, AllocationFailuresLeaveNothingBehind) {
    ScratchDir scratch;
    WriteFile("in.bmp", CraftBmp(300, 200, 24));
    for (uint32_t flags : {0u, IMAGE_FILE_BACKED}) {
        Image* image = nullptr;
        int n = 1;
        for (; image == nullptr && n < 10; ++n) {
            MemFailAt(n, true);
            image = ImageReadBmp(flags, "in.bmp", "in.spill");
            MemFailAt(0);
            if (image == nullptr) {
                EXPECT_NE(access("in.spill", F_OK), 0);
            }
        }
        ASSERT_NE(image, nullptr);
        // Record only in memory; record, fill block and copy block with a spill file.
        EXPECT_EQ(n - 1, flags == 0 ? 2 : 4);
        EXPECT_EQ(PixelAt(image, 299, 199),
                  (std::vector<uint8_t>{299 & 0xFF, 199, (299 + 199) & 0xFF}));
        ImageFree(image);
    }
}

}  // namespace
