// Every heap allocation of the region operations, the writers and the file
// conversions made to fail in turn: each failure gives the operation's code,
// leaves its Images as they were, removes its spill files and leaves no file
// descriptor open (LeakSanitizer checks the memory).
#include "tests/support/allocation_sweep.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <set>

#include "image/image.h"
#include "tests/image/image_test_util.h"
#include "tests/support/test_support.h"

namespace {

Image* PatternImage(uint32_t flags, int width, int height, int channels, const char* spill) {
    Image* image = ImageCreate(flags, width, height, channels, 0, 0, spill);
    EXPECT_NE(image, nullptr);
    if (image != nullptr) {
        FillPattern(image);
    }
    return image;
}

std::set<int> Codes(const std::vector<int>& results) {
    return {results.begin(), results.end()};
}

TEST(ImageAllocationSweepTest, RegionOperationsFailWholeOrNotAtAll) {
    ScratchDir scratch;
    const int descriptors = OpenDescriptors();
    long allocations = 0;
    int succeeded = -1;
    for (uint32_t sourceStore : {0u, IMAGE_FILE_BACKED}) {
        Image* source = PatternImage(sourceStore, 300, 40, 3, "source.spill");
        ASSERT_NE(source, nullptr);
        const std::vector<uint8_t> before = StoreBytes(source);
        for (uint32_t cropStore : {0u, IMAGE_FILE_BACKED}) {
            const auto crop = [&] {
                Image* cut = ImageCrop(cropStore, source, "crop.spill", 5, 5, 200, 20);
                const bool spillLeft = access("crop.spill", F_OK) == 0;
                ImageFree(cut);
                return cut != nullptr ? 0 : (spillLeft ? -99 : -1);
            };
            const auto results = SweepAllocations(crop, &allocations, &succeeded);
            EXPECT_EQ(succeeded, 0);
            // The record, for a spill file its fill block (a smaller one will
            // do, so that failure costs nothing), then the row buffer.
            const std::vector<int> expected =
                cropStore == 0 ? std::vector<int>{-1, -1} : std::vector<int>{-1, 0, -1};
            EXPECT_EQ(results, expected) << sourceStore;
            EXPECT_EQ(StoreBytes(source), before);
        }
        ImageFree(source);
    }

    // Rows wider than the copy stage between two spill files need a buffer.
    Image* target = PatternImage(IMAGE_FILE_BACKED, 3000, 4, 3, "target.spill");
    Image* patch = PatternImage(IMAGE_FILE_BACKED, 3000, 2, 3, "patch.spill");
    ASSERT_NE(target, nullptr);
    ASSERT_NE(patch, nullptr);
    const auto paste = [&] { return ImagePaste(0, target, 0, 1, patch, 0, 0, 0, 0); };
    EXPECT_EQ(SweepAllocations(paste, &allocations, &succeeded), (std::vector<int>{-2, -2}));
    EXPECT_EQ(succeeded, 0);
    EXPECT_EQ(PixelAt(target, 2999, 2), PatternPixel(patch, 2999, 1));

    const uint8_t red[3] = {255, 0, 0};
    const std::vector<uint8_t> unfilled = StoreBytes(target);
    const auto fill = [&] {
        const int result = ImageFillRect(IMAGE_FILL_OUTSIDE, target, 10, 1, 20, 2, red);
        EXPECT_TRUE(result == 0 || StoreBytes(target) == unfilled);
        return result;
    };
    EXPECT_EQ(SweepAllocations(fill, &allocations, &succeeded), (std::vector<int>{-2}));
    EXPECT_EQ(succeeded, 0);
    ImageFree(patch);
    ImageFree(target);
    EXPECT_NE(access("target.spill", F_OK), 0);
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(ImageAllocationSweepTest, WritersAndConversionsReportTheirStage) {
    ScratchDir scratch;
    const int descriptors = OpenDescriptors();
    long allocations = 0;
    int succeeded = -1;
    Image* colour = PatternImage(IMAGE_FILE_BACKED, 40, 30, 3, "colour.spill");
    ASSERT_NE(colour, nullptr);
    const auto png = [&] { return ImageWritePng(0, "out.png", colour); };
    EXPECT_EQ(SweepAllocations(png, &allocations, &succeeded),
              (std::vector<int>{IMAGE_PNG_ERR_ROW_BUFFER, IMAGE_PNG_ERR_LINE_BUFFER}));
    EXPECT_EQ(succeeded, 0);
    // The BMP writer's copy buffer shrinks until it gets one; only when none
    // can be had at all does the write fail.
    const auto bmp = [&] { return ImageWriteBmp(0, "out.bmp", colour); };
    EXPECT_EQ(SweepAllocations(bmp, &allocations, &succeeded, true),
              std::vector<int>{IMAGE_BMP_ERR_COPY_BUFFER});
    EXPECT_EQ(succeeded, 0);
    ImageFree(colour);

    // An indexed image whose colours are not a grey ramp is expanded to colour
    // on the way to PNG.
    Image* indexed = PatternImage(0, 40, 30, 1, nullptr);
    ASSERT_NE(indexed, nullptr);
    indexed->palette[7] = RgbQuad{1, 2, 3, 0};
    ASSERT_EQ(ImageWriteBmp(0, "indexed.bmp", indexed), 0);
    ImageFree(indexed);
    const auto toPng = [] { return ImageConvertBmpToPng(0, "indexed.bmp", "converted.png"); };
    EXPECT_EQ(Codes(SweepAllocations(toPng, &allocations, &succeeded)),
              (std::set<int>{IMAGE_CONVERT_ERR_READ, IMAGE_CONVERT_ERR_WRITE}));
    EXPECT_EQ(succeeded, 0);
    const auto toBmp = [] { return ImageConvertPngToBmp(0, "converted.png", "back.bmp"); };
    EXPECT_EQ(Codes(SweepAllocations(toBmp, &allocations, &succeeded)),
              std::set<int>{IMAGE_CONVERT_ERR_READ});
    EXPECT_EQ(succeeded, 0);
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

}  // namespace
