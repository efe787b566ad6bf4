// Every heap allocation of the QR path made to fail in turn: each failure
// gives the code of its stage, leaves no file descriptor open and (under
// LeakSanitizer) no memory behind.
#include "tests/support/allocation_sweep.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "image/image.h"
#include "qrcode/qrcode.h"
#include "qrfile/qrfile.h"
#include "tests/support/test_support.h"

namespace {

// Needs the UTF-8 converter, so its working buffer is on the path too.
const char kMessage[] = "\xE6\x97\xA5\xE6\x9C\xAC QR 0123";

std::vector<int> SweepQrPath(const char* outputName, int cellSize, long* allocations) {
    int succeeded = -1;
    const int descriptors = OpenDescriptors();
    const std::vector<int> results = SweepAllocations(
        [&] {
            char name[32] = {};
            std::strcpy(name, outputName);
            std::filesystem::remove(name);
            return ZEMQRFile(0, name, 0, 0, 2, 0, cellSize, 0, 0, kMessage);
        },
        allocations, &succeeded);
    EXPECT_EQ(succeeded, 0);
    EXPECT_EQ(OpenDescriptors(), descriptors);
    return results;
}

TEST(AllocationSweepTest, EveryQrPathAllocationFailsWithItsStageCode) {
    ScratchDir scratch;
    // Converter buffer (its failure leaves the message as it is), work Image,
    // module planes, then the writer's own buffers. The symbol is drawn
    // straight into the work Image, and the crop of the consumed work Image
    // happens in place: neither needs memory.
    const std::vector<int> common = {ZEMQR_OK, ZEMQR_ERR_IMAGE, QR_ERR_MODULES,
                                     QR_ERR_MODULE_KINDS};
    std::vector<int> png = common;
    png.insert(png.end(), {ZEMQR_PNG_WRITER_OFFSET + IMAGE_PNG_ERR_ROW_BUFFER,
                           ZEMQR_PNG_WRITER_OFFSET + IMAGE_PNG_ERR_LINE_BUFFER});
    long allocations = 0;
    EXPECT_EQ(SweepQrPath("out.png", 3, &allocations), png);
    EXPECT_EQ(allocations, 6);
    // The BMP writer needs nothing for an Image in memory.
    EXPECT_EQ(SweepQrPath("out.bmp", 3, &allocations), common);
    EXPECT_EQ(allocations, 4);
    // The symbol still decodes after a converter without memory: the
    // message was then encoded as UTF-8 bytes.
    MemFailAt(1);
    char name[] = "plain.png";
    ASSERT_EQ(ZEMQRFile(0, name, 0, 0, 2, 0, 2, 0, 0, kMessage), 0);
    MemFailAt(0);
    EXPECT_EQ(DecodeQrFileWithZbar("plain.png"), std::string(kMessage));
}

}  // namespace
