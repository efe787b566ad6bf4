#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "diag/memory.h"
#include "image/image.h"
#include "tests/image/file_size_limit.h"
#include "tests/image/image_test_util.h"
#include "tests/support/test_support.h"

namespace {

uint32_t Be32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    }
    return value;
}

struct Chunk {
    std::string type;
    std::string data;
};

// Splits a PNG file into its chunks, checking signature and every CRC.
std::vector<Chunk> Chunks(const std::string& file) {
    std::vector<Chunk> chunks;
    EXPECT_EQ(file.substr(0, 8), "\x89PNG\r\n\x1a\n");
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t length = Be32(file, at);
        Chunk chunk{file.substr(at + 4, 4), file.substr(at + 8, length)};
        const std::string covered = file.substr(at + 4, 4 + length);
        const auto crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(covered.data()), covered.size()));
        EXPECT_EQ(Be32(file, at + 8 + length), crc) << chunk.type;
        chunks.push_back(chunk);
        at += 12 + length;
    }
    return chunks;
}

TEST(PngWriteTest, ColourRowsRunTopDownAsRedGreenBlue) {
    ScratchDir scratch;
    for (uint32_t flags : {0u, IMAGE_FILE_BACKED}) {
        Image* image = ImageCreate(flags, 5, 3, 3, 0, 0, "spill");
        ASSERT_NE(image, nullptr);
        FillPattern(image);
        const uint8_t bottomLeft[3] = {0x10, 0x20, 0x30};
        ASSERT_EQ(ImageWriteBytes(image, 0, 1, 3, bottomLeft), 0);
        const std::string name = flags != 0 ? "spilled.png" : "memory.png";
        ASSERT_EQ(ImageWritePng(0, name.c_str(), image), 0);
        const auto decoded = DecodePng(name, PNG_FORMAT_RGB);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_TRUE(decoded->colour);
        EXPECT_EQ(decoded->width, 5);
        EXPECT_EQ(decoded->height, 3);
        const uint8_t* lastRow = &decoded->samples[2 * 15];
        EXPECT_EQ(lastRow[0], 0x30);
        EXPECT_EQ(lastRow[1], 0x20);
        EXPECT_EQ(lastRow[2], 0x10);
        for (int row = 0; row < 3; ++row) {
            for (int x = (row == 2 ? 1 : 0); x < 5; ++x) {
                const uint8_t* rgb = &decoded->samples[row * 15 + x * 3];
                const int y = 2 - row;
                EXPECT_EQ(rgb[0], PatternByte(x, y, 2));
                EXPECT_EQ(rgb[1], PatternByte(x, y, 1));
                EXPECT_EQ(rgb[2], PatternByte(x, y, 0));
            }
        }
        ImageFree(image);
    }
    EXPECT_EQ(FileBytes("memory.png"), FileBytes("spilled.png"));
}

TEST(PngWriteTest, GreyImageIsGreyWhateverItsColourTable) {
    ScratchDir scratch;
    Image* image = ImageCreate(0, 6, 4, 1, 3780, 3780, nullptr);
    ASSERT_NE(image, nullptr);
    FillPattern(image);
    for (RgbQuad& entry : image->palette) {
        entry = RgbQuad{0, 0, 255, 0};
    }
    ASSERT_EQ(ImageWritePng(0, "grey.png", image), 0);
    const std::string file = FileBytes("grey.png");
    const std::vector<Chunk> chunks = Chunks(file);
    ASSERT_GE(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].type, "IHDR");
    const std::string& ihdr = chunks[0].data;
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(Be32(ihdr, 0), 6u);
    EXPECT_EQ(Be32(ihdr, 4), 4u);
    EXPECT_EQ(ihdr.substr(8), std::string("\x08\0\0\0\0", 5))
        << "depth 8, grey, deflate, adaptive filters, not interlaced";
    const auto decoded = DecodePng("grey.png", PNG_FORMAT_GRAY);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_FALSE(decoded->colour);
    for (int row = 0; row < 4; ++row) {
        for (int x = 0; x < 6; ++x) {
            EXPECT_EQ(decoded->samples[row * 6 + x], PatternByte(x, 3 - row, 0));
        }
    }
    ImageFree(image);
}

TEST(PngWriteTest, FileHoldsOnlyHeaderDataAndEnd) {
    ScratchDir scratch;
    Image* image = ImageCreate(0, 300, 300, 3, 3780, 3780, nullptr);
    ASSERT_NE(image, nullptr);
    FillPattern(image);
    ASSERT_EQ(ImageWritePng(0, "plain.png", image), 0);
    const std::vector<Chunk> chunks = Chunks(FileBytes("plain.png"));
    ASSERT_GE(chunks.size(), 3u);
    EXPECT_EQ(chunks.front().type, "IHDR");
    EXPECT_EQ(chunks.front().data[9], 2) << "RGB";
    EXPECT_EQ(chunks.back().type, "IEND");
    EXPECT_TRUE(chunks.back().data.empty());
    for (size_t i = 1; i + 1 < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].type, "IDAT");
    }
    ImageFree(image);
}

TEST(PngWriteTest, FailuresGiveTheCodeOfTheirStage) {
    ScratchDir scratch;
    Image* image = ImageCreate(0, 64, 64, 3, 0, 0, nullptr);
    ASSERT_NE(image, nullptr);
    FillPattern(image);
    EXPECT_EQ(ImageWritePng(0, "no/such/dir/x.png", image), IMAGE_PNG_ERR_OPEN);

    ASSERT_EQ(symlink("/dev/full", "full.png"), 0);
    EXPECT_EQ(ImageWritePng(0, "full.png", image), IMAGE_PNG_ERR_SIGNATURE);
    auto write = [image] { return ImageWritePng(0, "cut.png", image); };
    EXPECT_EQ(WithFileSizeLimit(20, write), IMAGE_PNG_ERR_SIGNATURE);
    EXPECT_EQ(WithFileSizeLimit(200, write), IMAGE_PNG_ERR_ROWS);

    MemFailAt(1);
    EXPECT_EQ(ImageWritePng(0, "norow.png", image), IMAGE_PNG_ERR_ROW_BUFFER);
    MemFailAt(2);
    EXPECT_EQ(ImageWritePng(0, "noline.png", image), IMAGE_PNG_ERR_LINE_BUFFER);
    MemFailAt(0);

    image->info.bitCount = 32;
    EXPECT_EQ(ImageWritePng(0, "deep.png", image), IMAGE_PNG_ERR_HEADER);
    EXPECT_NE(access("deep.png", F_OK), 0);
    ImageFree(image);

    Image* wide = ImageCreate(0, 1000001, 1, 1, 0, 0, nullptr);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(ImageWritePng(0, "wide.png", wide), IMAGE_PNG_ERR_HEADER);
    ImageFree(wide);
}

}  // namespace
