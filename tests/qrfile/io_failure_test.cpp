// Files that fail us: a full disk, a directory that cannot hold the output,
// message files that cannot be read and spill files that cannot be made.
// Each gives its code, the console program exits with status 2 and says why,
// and nothing is left open.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "image/image.h"
#include "qrfile/qrfile.h"
#include "tests/support/allocation_sweep.h"
#include "tests/support/e2e_support.h"
#include "tests/support/test_support.h"

namespace {

int Make(const char* outputName, uint32_t flags, const char* message) {
    char name[64] = {};
    std::strcpy(name, outputName);
    return ZEMQRFile(flags, name, 0, 0, 1, 0, 2, 0, 0, message);
}

struct Failure {
    const char* output;
    uint32_t flags;
    const char* message;
    int code;
    const char* said;  // the console program's line on standard error
};

TEST(IoFailureTest, EachFailingFileGivesItsCodeAndNothingStaysOpen) {
    ScratchDir scratch;
    std::filesystem::create_symlink("/dev/full", "full.png");
    std::filesystem::create_symlink("/dev/full", "full.bmp");
    std::filesystem::create_directory("folder");
    WriteFile("plain.txt", "not a directory");
    WriteFile("message.txt", "HELLO");
    const Failure failures[] = {
        // Nothing of a full disk shows before the first flush: the PNG
        // signature and header, the BMP file header.
        {"full.png", 0, "FULL", ZEMQR_PNG_WRITER_OFFSET + IMAGE_PNG_ERR_SIGNATURE,
         ".png file store error [-68]\n"},
        {"full.bmp", 0, "FULL", ZEMQR_BMP_WRITER_OFFSET + IMAGE_BMP_ERR_FILE_HEADER,
         ".bmp file store error [-82]\n"},
        {"missing/out.png", 0, "HELLO", ZEMQR_PNG_WRITER_OFFSET + IMAGE_PNG_ERR_OPEN,
         ".png file store error [-61]\n"},
        {"plain.txt/out.bmp", 0, "HELLO", ZEMQR_BMP_WRITER_OFFSET + IMAGE_BMP_ERR_OPEN,
         ".bmp file store error [-81]\n"},
        {"folder", 0, "HELLO", 0, ""},  // becomes folder.png beside it
        {"out.png", IMAGEFLAG_MESSAGE_FILE, "folder", ZEMQR_ERR_FILE_READ,
         "Message file read error\n"},
        // Opens, but no byte of it can be read.
        {"out.png", IMAGEFLAG_MESSAGE_FILE, "/proc/self/mem", ZEMQR_ERR_FILE_READ,
         "Message file read error\n"},
        {"out.png", IMAGEFLAG_MESSAGE_FILE, "missing.txt", ZEMQR_ERR_FILE_OPEN,
         "Message file not found\n"},
        {"out.png", IMAGEFLAG_MESSAGE_FILE, "plain.txt/x", ZEMQR_ERR_FILE_OPEN,
         "Message file not found\n"},
    };
    const int descriptors = OpenDescriptors();
    for (const Failure& f : failures) {
        EXPECT_EQ(Make(f.output, f.flags, f.message), f.code) << f.output << " " << f.message;
        EXPECT_EQ(OpenDescriptors(), descriptors) << f.output << " " << f.message;

        std::vector<std::string> args = {"zemQRCode", f.output};
        if ((f.flags & IMAGEFLAG_MESSAGE_FILE) != 0) {
            args.insert(args.begin() + 1, {"-f", f.message});
        } else {
            args.push_back(f.message);
        }
        args.insert(args.begin() + 1, {"-s", "2"});
        const ProgramRun run = RunProgram(ZEM_CLI_PATH, args);
        EXPECT_EQ(run.status, f.code == 0 ? 0 : 2) << f.output << " " << f.message;
        // libpng adds its own word on the failed write before ours.
        EXPECT_TRUE(run.err.ends_with(f.said)) << run.err;
    }
    EXPECT_TRUE(std::filesystem::is_regular_file("folder.png"));
    EXPECT_FALSE(std::filesystem::exists("out.png"));
    EXPECT_FALSE(std::filesystem::exists("missing"));
}

TEST(IoFailureTest, UnreadableMessageFileIsNotFoundUnlessWeAreRoot) {
    ScratchDir scratch;
    WriteFile("secret.txt", "HELLO");
    chmod("secret.txt", 0);
    // Permission bits do not stop root; the other cases above need none.
    const int expected = geteuid() == 0 ? ZEMQR_OK : ZEMQR_ERR_FILE_OPEN;
    EXPECT_EQ(Make("out.png", IMAGEFLAG_MESSAGE_FILE, "secret.txt"), expected);
}

// A spill path on a full disk; a failed Image removes its spill file, here
// the link, so every use needs a new one.
const char* FullSpill() {
    std::filesystem::remove("full.spill");
    std::filesystem::create_symlink("/dev/full", "full.spill");
    return "full.spill";
}

TEST(IoFailureTest, SpillFilesThatCannotBeMadeOrFilledGiveNoImage) {
    ScratchDir scratch;
    const int descriptors = OpenDescriptors();
    EXPECT_EQ(ImageCreate(IMAGE_FILE_BACKED, 50, 50, 3, 0, 0, "missing/x.spill"), nullptr);
    EXPECT_EQ(ImageCreate(IMAGE_FILE_BACKED, 50, 50, 3, 0, 0, ""), nullptr);
    EXPECT_EQ(ImageCreate(IMAGE_FILE_BACKED, 1, 1, 3, 0, 0, FullSpill()), nullptr);
    EXPECT_EQ(ImageCreate(IMAGE_FILE_BACKED, 3000, 3000, 3, 0, 0, FullSpill()), nullptr);

    Image* source = ImageCreate(0, 50, 50, 3, 0, 0, nullptr);
    ASSERT_NE(source, nullptr);
    const uint32_t crop = IMAGE_FILE_BACKED | IMAGE_CONSUME_SOURCE;
    EXPECT_EQ(ImageCrop(crop, source, "missing/x.spill", 0, 0, 20, 20), nullptr);
    EXPECT_EQ(ImageCrop(crop, source, FullSpill(), 0, 0, 20, 20), nullptr);
    ASSERT_EQ(ImageWriteBmp(0, "in.bmp", source), 0);
    ASSERT_EQ(ImageWritePng(0, "in.png", source), 0);
    ImageFree(source);  // still ours: the failed crops did not consume it
    EXPECT_EQ(ImageReadBmp(IMAGE_FILE_BACKED, "in.bmp", FullSpill()), nullptr);
    EXPECT_EQ(ImageReadPng(IMAGE_FILE_BACKED, "in.png", FullSpill()), nullptr);
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

}  // namespace
