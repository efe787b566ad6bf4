// Files that fail us: a full disk, a file-size limit, writers racing for one
// name, a directory that cannot hold the output, message files that cannot be
// read and spill files that cannot be made. Each gives its code, the console
// program exits with status 2 and says why in one line, the library says
// nothing, nothing is left open, and a file that was there before is either
// replaced whole or kept as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

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
        EXPECT_EQ(run.err, f.said);
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

// The names in a directory, sorted: what a failed or racing write must not
// add to.
std::vector<std::string> Names(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Writes a good file under `path`, then runs the console program with `args`
// (which make it fail) on the same name: the good file keeps every byte and
// nothing is left beside it.
void ExpectFailedRunKeepsTheOldFile(const std::string& directory, const std::string& path,
                                    std::vector<std::string> args, long sizeLimit,
                                    const std::string& said) {
    ASSERT_EQ(RunProgram(ZEM_CLI_PATH, {"zemQRCode", "-s", "2", path, "GOOD"}).status, 0);
    const std::string good = ReadWholeFile(path).value_or("");
    const std::vector<std::string> before = Names(directory);
    args.insert(args.begin(), "zemQRCode");
    args.insert(args.end(), {path, "NEW"});
    const ProgramRun run = RunProgram(ZEM_CLI_PATH, args, sizeLimit);
    EXPECT_EQ(run.status, 2) << path;
    EXPECT_EQ(run.err, said);
    EXPECT_EQ(ReadWholeFile(path), good) << path;
    EXPECT_EQ(Names(directory), before) << path;
}

TEST(IoFailureTest, AFileSizeLimitIsAStoreErrorAndKeepsTheOldFile) {
    ScratchDir scratch;
    // Without SIGXFSZ ignored, the program would die of the signal.
    ExpectFailedRunKeepsTheOldFile(".", "limit.bmp", {"-s", "4", "-q", "10"}, 100000,
                                   ".bmp file store error [-87]\n");
    ExpectFailedRunKeepsTheOldFile(".", "limit.png", {"-s", "8", "-q", "40"}, 4000,
                                   ".png file store error [-71]\n");
}

TEST(IoFailureTest, AFullFileSystemKeepsTheOldFile) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    ScratchDir scratch;
    std::filesystem::create_directory("small");
    if (mount("tmpfs", "small", "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    ExpectFailedRunKeepsTheOldFile("small", "small/keep.bmp", {"-s", "4", "-q", "10"}, 0,
                                   ".bmp file store error [-87]\n");
    umount("small");
}

// Starts the console program with its output thrown away.
pid_t Start(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(ZEM_CLI_PATH, argv.data());
        _exit(127);
    }
    return child;
}

TEST(IoFailureTest, ASignalPartWayKeepsTheOldFile) {
    ScratchDir scratch;
    ASSERT_EQ(RunProgram(ZEM_CLI_PATH, {"zemQRCode", "-s", "2", "big.bmp", "GOOD"}).status, 0);
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::string before = ReadWholeFile("big.bmp").value_or("");
        // Caught while the new file, some 26 MB, is being written beside the old one.
        const pid_t child = Start({"zemQRCode", "-s", "16", "-q", "40", "big.bmp", "NEW"});
        int status = 0;
        bool writing = false;
        while (!writing && waitpid(child, &status, WNOHANG) == 0) {
            writing = Names(".").size() > 1;
            usleep(100);
        }
        if (!writing) {
            continue;  // done before we looked: the old file is now this one
        }
        kill(child, SIGTERM);
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        EXPECT_EQ(ReadWholeFile("big.bmp"), before);
        EXPECT_EQ(Names("."), std::vector<std::string>{"big.bmp"});
        return;
    }
    ADD_FAILURE() << "the program was never caught writing";
}

TEST(IoFailureTest, ConcurrentWritersLeaveOneWholeFile) {
    ScratchDir scratch;
    constexpr int kWriters = 16;
    for (int round = 0; round < 4; ++round) {
        std::vector<pid_t> children;
        for (int i = 0; i < kWriters; ++i) {
            // Messages of different lengths make files of different sizes.
            const std::string message = "RUN " + std::string(static_cast<size_t>(i) * 3, 'X');
            children.push_back(Start({"zemQRCode", "-s", "3", "same.png", message}));
        }
        for (const pid_t child : children) {
            int status = -1;
            waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        // The file is exactly what the writer whose message it holds makes alone.
        const std::optional<std::string> message = DecodeQrFileWithZxing("same.png");
        ASSERT_TRUE(message.has_value()) << round;
        ASSERT_EQ(RunProgram(ZEM_CLI_PATH, {"zemQRCode", "-s", "3", "alone.png", *message}).status,
                  0);
        EXPECT_EQ(ReadWholeFile("same.png"), ReadWholeFile("alone.png")) << *message;
        EXPECT_EQ(Names("."), (std::vector<std::string>{"alone.png", "same.png"}));
    }
}

TEST(IoFailureTest, WritersKeepLinksDevicesAndModes) {
    ScratchDir scratch;
    Image* image = ImageCreate(IMAGE_FILL_WHITE, 4, 4, 3, 0, 0, nullptr);
    ASSERT_NE(image, nullptr);
    const mode_t umaskBefore = umask(027);
    for (auto* write : {ImageWritePng, ImageWriteBmp}) {
        std::filesystem::remove_all("d");
        std::filesystem::create_directory("d");
        WriteFile("d/narrow", "old");
        chmod("d/narrow", 0604);
        WriteFile("d/real", "old");
        WriteFile("d/victim", "old");
        // Relative links count from the directory that holds them.
        std::filesystem::create_symlink("real", "d/link");
        std::filesystem::create_symlink("made", "d/dangling");
        std::filesystem::create_symlink("victim", "d/qr");
        std::filesystem::create_symlink("gone", "d/ghost");
        std::filesystem::create_symlink("/dev/null", "d/null");
        const struct {
            const char* name;
            uint32_t options;
            const char* written;  // where the image lands; nullptr: a device
            bool staysLink;
            mode_t mode;
        } cases[] = {
            {"d/new", 0, "d/new", false, 0640},  // 0666 less the umask
            {"d/narrow", 0, "d/narrow", false, 0604},
            {"d/link", 0, "d/real", true, 0640},
            {"d/dangling", 0, "d/made", true, 0640},
            {"d/qr", IMAGE_NO_FOLLOW, "d/qr", false, 0640},
            {"d/ghost", IMAGE_NO_FOLLOW, "d/ghost", false, 0640},
            {"d/null", 0, nullptr, true, 0},
            {"/dev/null", 0, nullptr, false, 0},
        };
        for (const auto& c : cases) {
            EXPECT_EQ(write(c.options, c.name, image), 0) << c.name;
            EXPECT_EQ(std::filesystem::is_symlink(c.name), c.staysLink) << c.name;
            if (c.written == nullptr) {
                continue;
            }
            struct stat status {};
            ASSERT_EQ(lstat(c.written, &status), 0) << c.written;
            EXPECT_TRUE(S_ISREG(status.st_mode)) << c.written;
            EXPECT_EQ(status.st_mode & 0777, c.mode) << c.written;
            EXPECT_GT(status.st_size, 54) << c.written;
        }
        EXPECT_EQ(ReadWholeFile("d/victim"), "old");
        EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
        EXPECT_EQ(Names("d"),
                  (std::vector<std::string>{"dangling", "ghost", "link", "made", "narrow", "new",
                                            "null", "qr", "real", "victim"}));
    }
    umask(umaskBefore);
    ImageFree(image);
}

TEST(IoFailureTest, TheLibraryPrintsNothingWhenFilesFail) {
    ScratchDir scratch;
    std::filesystem::create_symlink("/dev/full", "full.png");
    Image* image = ImageCreate(IMAGE_FILL_WHITE, 8, 8, 3, 0, 0, nullptr);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(ImageWritePng(0, "bad.png", image), 0);
    ImageFree(image);
    std::string damaged = ReadWholeFile("bad.png").value_or("");
    damaged[29] ^= 1;  // the header's checksum
    std::ofstream("bad.png", std::ios::binary) << damaged;

    std::FILE* captured = std::tmpfile();
    std::fflush(stderr);
    const int stderrBefore = dup(STDERR_FILENO);
    dup2(fileno(captured), STDERR_FILENO);
    const int written = Make("full.png", 0, "FULL");
    Image* read = ImageReadPng(0, "bad.png", nullptr);
    std::fflush(stderr);
    dup2(stderrBefore, STDERR_FILENO);
    close(stderrBefore);
    EXPECT_EQ(written, ZEMQR_PNG_WRITER_OFFSET + IMAGE_PNG_ERR_SIGNATURE);
    EXPECT_EQ(read, nullptr);
    struct stat status {};
    fstat(fileno(captured), &status);
    EXPECT_EQ(status.st_size, 0);
    std::fclose(captured);
}

}  // namespace
