// Files that fail us: a full disk, a file-size limit, writers racing for one
// name, a directory that cannot hold the output, message files that cannot be
// read and spill files that cannot be made. Each gives its code, the console
// program exits with status 2 and says why in one line, the library says
// nothing, nothing is left open, and a file that was there before is either
// replaced whole or kept as it was.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
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
    // Room for the folder and one file: no new file beside it, and no
    // writing over it in place either.
    ASSERT_EQ(mount("tmpfs", "small", "tmpfs", 0, "size=64k,nr_inodes=2"), 0);
    ExpectFailedRunKeepsTheOldFile("small", "small/keep.bmp", {"-s", "2"}, 0,
                                   ".bmp file store error [-81]\n");
    umount("small");
}

// A user the console program runs as: fixed ids with no rights of their own
// (65534 is nobody; the others need no entry in /etc/passwd).
struct Identity {
    uid_t uid;
    gid_t gid;
    gid_t extraGroup;  // a supplementary group, or the primary one again
};
constexpr uid_t kWriter = 65534;
constexpr Identity kNobody = {kWriter, kWriter, kWriter};
constexpr Identity kRoot = {0, 0, 0};

// How a run treats the file at its name.
enum class Way { kInPlace, kReplaced, kRefused };

// The console program where any user may start it: the build tree can lie
// in a folder only its owner enters (a clone under /root), so runs as
// another user start a copy in a folder of their own, removed at exit.
const char* ProgramForAnyone() {
    static std::string folder;
    static const std::string copy = [] {
        char pattern[] = "/tmp/zemcli.XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::abort();
        }
        folder = pattern;
        const std::string program = folder + "/zemQRCode";
        std::filesystem::copy_file(ZEM_CLI_PATH, program);
        chmod(folder.c_str(), 0755);
        chmod(program.c_str(), 0755);
        std::atexit([] { std::filesystem::remove_all(folder); });
        return program;
    }();
    return copy.c_str();
}

// Starts the console program with its output thrown away, as `who` when
// given, with `environment` ("NAME=value") added to ours.
pid_t Start(const std::vector<std::string>& args, const Identity* who = nullptr,
            const std::vector<std::string>& environment = {}) {
    const char* program = who != nullptr && who->uid != 0 ? ProgramForAnyone() : ZEM_CLI_PATH;
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
        if (who != nullptr &&
            (setgroups(1, &who->extraGroup) != 0 || setresgid(who->gid, who->gid, who->gid) != 0 ||
             setresuid(who->uid, who->uid, who->uid) != 0)) {
            _exit(126);
        }
        for (const std::string& setting : environment) {
            putenv(const_cast<char*>(setting.c_str()));
        }
        execv(program, argv.data());
        _exit(127);
    }
    return child;
}

// The exit status of the console program run as `who`; -1 when it did not exit.
int RunAs(const Identity& who, const std::vector<std::string>& args) {
    int status = 0;
    waitpid(Start(args, &who), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Ends a write of big.bmp with `signal`; false when the program was never
// caught writing.
bool SignalPartWayKeepsTheOldFile(int signal) {
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
        kill(child, signal);
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(ReadWholeFile("big.bmp"), before);
        EXPECT_EQ(Names("."), std::vector<std::string>{"big.bmp"});
        return true;
    }
    return false;
}

// Each signal that ends the program part way through a large write leaves
// the old file as it was and nothing beside it.
TEST(IoFailureTest, ASignalPartWayKeepsTheOldFile) {
    ScratchDir scratch;
    ASSERT_EQ(RunProgram(ZEM_CLI_PATH, {"zemQRCode", "-s", "2", "big.bmp", "GOOD"}).status, 0);
    for (const int signal : {SIGTERM, SIGUSR1, SIGALRM}) {
        EXPECT_TRUE(SignalPartWayKeepsTheOldFile(signal)) << "never caught writing: " << signal;
    }
}

// Runs 16 console programs at once, as `who` when given, on `folder`/same.png,
// four times: each time the file is exactly what the writer whose message it
// holds makes alone, and nothing is left beside it.
void ExpectConcurrentWritersLeaveOneWholeFile(const std::string& folder, const Identity* who) {
    constexpr int kWriters = 16;
    const std::string same = folder + "/same.png";
    const std::vector<std::string> before = Names(folder);
    for (int round = 0; round < 4; ++round) {
        std::vector<pid_t> children;
        for (int i = 0; i < kWriters; ++i) {
            // Messages of different lengths make files of different sizes.
            const std::string message = "RUN " + std::string(static_cast<size_t>(i) * 3, 'X');
            children.push_back(Start({"zemQRCode", "-s", "3", same, message}, who));
        }
        for (const pid_t child : children) {
            int status = -1;
            waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        const std::optional<std::string> message = DecodeQrFileWithZxing(same);
        ASSERT_TRUE(message.has_value()) << folder << " " << round;
        ASSERT_EQ(RunProgram(ZEM_CLI_PATH, {"zemQRCode", "-s", "3", "alone.png", *message}).status,
                  0);
        EXPECT_EQ(ReadWholeFile(same), ReadWholeFile("alone.png")) << *message;
        EXPECT_EQ(Names(folder), before) << folder;
    }
}

TEST(IoFailureTest, ConcurrentWritersLeaveOneWholeFile) {
    ScratchDir scratch;
    std::filesystem::create_directory("replaced");
    WriteFile("replaced/same.png", "old");
    ExpectConcurrentWritersLeaveOneWholeFile("replaced", nullptr);
    if (geteuid() != 0) {
        return;  // writers in place need another user
    }
    // Written in place, one writer at a time: a folder they cannot add to.
    chmod(scratch.path.c_str(), 0755);
    std::filesystem::create_directory("kept");
    WriteFile("kept/same.png", "old");
    chmod("kept/same.png", 0666);
    chmod("kept", 0555);
    ExpectConcurrentWritersLeaveOneWholeFile("kept", &kNobody);
}

// The value of a file's extended attribute; empty when it has none.
std::string Attribute(const char* path, const char* attribute) {
    char value[4096];
    const ssize_t size = getxattr(path, attribute, value, sizeof value);
    return size < 0 ? std::string() : std::string(value, static_cast<size_t>(size));
}

// An access list granting user 60001 read and write, mode 0664 around it, as
// the kernel stores it: a version, then (tag, permissions, id) entries, all
// little-endian.
std::string AccessListFor60001() {
    const uint32_t words[] = {2,   0x0001 | 6 << 16, ~0u, 0x0002 | 6 << 16, 60001, 0x0004 | 6 << 16,
                              ~0u, 0x0010 | 6 << 16, ~0u, 0x0020 | 4 << 16, ~0u};
    std::string bytes;
    for (const uint32_t word : words) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<char>(word >> shift));
        }
    }
    return bytes;
}

TEST(IoFailureTest, AnotherUsersFileStaysTheirs) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "running as other users needs root";
    }
    ScratchDir scratch;
    chmod(scratch.path.c_str(), 0755);
    constexpr uid_t kOwner = 60001;
    constexpr gid_t kGroup = 60003;
    const struct {
        const char* folder;
        mode_t folderMode;
        uid_t folderOwner;
        uid_t owner;
        gid_t group;
        mode_t mode;
        Identity writer;
        const char* attribute;  // given to the file before the run
        bool secondName;        // a hard link beside it
        Way way;
    } cases[] = {
        {"read-only", 0555, 0, 0, 0, 0666, kNobody, nullptr, false, Way::kInPlace},
        {"sticky",
         01777,
         0,
         kOwner,
         kOwner,
         0666,
         {60002, 60002, 60002},
         nullptr,
         false,
         Way::kInPlace},
        {"own", 0755, kWriter, 0, 0, 0666, kNobody, nullptr, false, Way::kInPlace},
        {"own-group", 0755, kWriter, kWriter, kGroup, 0664, kNobody, nullptr, false, Way::kInPlace},
        {"member",
         0755,
         kWriter,
         kWriter,
         kGroup,
         0664,
         {kWriter, kWriter, kGroup},
         nullptr,
         false,
         Way::kReplaced},
        {"user-attribute", 0755, kWriter, kWriter, kWriter, 0640, kNobody, "user.origin", false,
         Way::kReplaced},
        {"access-list", 0755, kWriter, kWriter, kWriter, 0664, kNobody, "system.posix_acl_access",
         false, Way::kReplaced},
        // A file with a second name, which writing in place would change
        // too, is replaced by one just like it, or not at all.
        {"linked", 0755, kWriter, 0, 0, 0666, kNobody, nullptr, true, Way::kRefused},
        {"linked-by-root", 0755, 0, kOwner, kGroup, 0640, kRoot, "system.posix_acl_access", true,
         Way::kReplaced},
    };
    for (const auto& c : cases) {
        const std::string folder = c.folder;
        const std::string file = folder + "/label.png";
        std::filesystem::create_directory(folder);
        WriteFile(file, "old");
        ASSERT_EQ(chown(file.c_str(), c.owner, c.group), 0);
        chmod(file.c_str(), c.mode);
        if (c.attribute != nullptr) {
            const std::string value = c.attribute[0] == 'u' ? "scanner 7" : AccessListFor60001();
            if (setxattr(file.c_str(), c.attribute, value.data(), value.size(), 0) != 0) {
                ADD_FAILURE() << file << ": no " << c.attribute
                              << " here: " << std::strerror(errno);
                continue;
            }
        }
        if (c.secondName) {
            std::filesystem::create_hard_link(file, folder + "/backup.png");
        }
        ASSERT_EQ(chown(folder.c_str(), c.folderOwner, c.folderOwner), 0);
        chmod(folder.c_str(), c.folderMode);
        struct stat before {};
        ASSERT_EQ(stat(file.c_str(), &before), 0);
        const std::string attribute = c.attribute ? Attribute(file.c_str(), c.attribute) : "";

        const bool written = c.way != Way::kRefused;
        EXPECT_EQ(RunAs(c.writer, {"zemQRCode", "-s", "2", file, "NEW"}), written ? 0 : 2) << file;
        if (written) {
            EXPECT_EQ(DecodeQrFileWithZxing(file), "NEW") << file;
        } else {
            EXPECT_EQ(ReadWholeFile(file), "old") << file;
        }
        struct stat after {};
        ASSERT_EQ(stat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino != before.st_ino, c.way == Way::kReplaced) << file;
        EXPECT_EQ(after.st_mode, before.st_mode) << file;
        EXPECT_EQ(after.st_uid, before.st_uid) << file;
        EXPECT_EQ(after.st_gid, before.st_gid) << file;
        if (c.secondName) {
            EXPECT_EQ(ReadWholeFile(folder + "/backup.png"), "old");
        }
        if (c.attribute != nullptr) {
            EXPECT_EQ(Attribute(file.c_str(), c.attribute), attribute) << file;
        }
        EXPECT_EQ(Names(folder).size(), c.secondName ? 2u : 1u) << file;
    }
}

TEST(IoFailureTest, AnotherUsersDebugFileIsNeverWrittenThrough) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "running as other users needs root";
    }
    ScratchDir scratch;
    chmod(scratch.path.c_str(), 0755);
    // A link planted in the writer's folder, and a file in a folder the
    // writer cannot add to: neither is written in place.
    for (const char* folder : {"planted", "read-only"}) {
        std::filesystem::create_directory(folder);
        WriteFile(std::string(folder) + "/victim", "old");
        chmod((std::string(folder) + "/victim").c_str(), 0666);
    }
    std::filesystem::create_symlink("victim", "planted/qr.png");
    ASSERT_EQ(chown("planted", kWriter, kWriter), 0);
    std::filesystem::rename("read-only/victim", "read-only/qr.png");
    chmod("read-only", 0555);
    chmod(scratch.path.c_str(), 0777);  // for the images themselves
    for (const char* folder : {"planted", "read-only"}) {
        const std::string qr = std::string(folder) + "/qr.png";
        const std::string out = scratch.path + "/" + folder + ".png";
        ASSERT_EQ(chdir(folder), 0);
        EXPECT_EQ(RunAs(kNobody, {"zemQRCode", "-v2", "-s", "2", out, "NEW"}), 0) << folder;
        ASSERT_EQ(chdir(".."), 0);
        EXPECT_EQ(DecodeQrFileWithZxing(out), "NEW") << folder;
        if (std::filesystem::is_symlink(qr)) {
            ADD_FAILURE() << qr << " is still the link";
        }
    }
    EXPECT_EQ(ReadWholeFile("planted/victim"), "old");
    EXPECT_EQ(ReadWholeFile("read-only/qr.png"), "old");
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

// ---- A folder another user controls, the program run as root ---------------

constexpr uid_t kOther = 60001;  // granted access by AccessListFor60001

// The environment that loads the system-call shim into the console program
// (the sanitizers' runtime need not come first), with `settings` added.
std::vector<std::string> WithShim(std::vector<std::string> settings) {
    settings.push_back("LD_PRELOAD=" ZEM_SHIM_PATH);
    settings.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
    return settings;
}

int ExitStatus(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct FileState {
    ino_t inode;
    uid_t owner;
    mode_t mode;
    std::string bytes;
    bool operator==(const FileState&) const = default;
};

FileState StateOf(const std::string& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return {status.st_ino, status.st_uid, status.st_mode, ReadWholeFile(path).value_or("")};
}

// The other user re-points att/out.png between the kernel's open of the
// name and the walk to its folder, either way round. The program looks
// again and replaces the file the link reaches then, as the link would have
// had it do anyway: that file keeps its owner and mode, the other is not
// touched, and no owner or mode passes from one to the other.
TEST(HostileFolderTest, ALinkSwappedMidWayChangesNoFileOutsideTheFolder) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "a folder of another user's needs root";
    }
    ScratchDir scratch;
    chmod(scratch.path.c_str(), 0755);
    std::filesystem::create_directory("safe");
    chmod("safe", 0700);
    WriteFile("safe/victim.png", "root's");
    chmod("safe/victim.png", 0600);
    std::filesystem::create_directory("att");
    WriteFile("att/own.png", "his");
    chmod("att/own.png", 0666);
    ASSERT_EQ(chown("att/own.png", kWriter, kWriter), 0);
    ASSERT_EQ(chown("att", kWriter, kWriter), 0);
    const struct {
        const char* first;
        const char* swapped;
    } cases[] = {{"own.png", "../safe/victim.png"}, {"../safe/victim.png", "own.png"}};
    for (const auto& c : cases) {
        std::filesystem::remove("att/out.png");
        std::filesystem::create_symlink(c.first, "att/out.png");
        const FileState victim = StateOf("safe/victim.png");
        const FileState his = StateOf("att/own.png");
        const pid_t run = Start({"zemQRCode", "att/out.png", "NEW"}, nullptr,
                                WithShim({"ZEM_SHIM_SWAP_LINK=att/out.png",
                                          std::string("ZEM_SHIM_SWAP_TO=") + c.swapped}));
        EXPECT_EQ(ExitStatus(run), 0) << c.first;
        const bool toVictim = std::string(c.swapped) == "../safe/victim.png";
        const FileState reached = StateOf(toVictim ? "safe/victim.png" : "att/own.png");
        const FileState& reachedBefore = toVictim ? victim : his;
        EXPECT_EQ(std::pair(reached.owner, reached.mode),
                  std::pair(reachedBefore.owner, reachedBefore.mode))
            << c.first;
        EXPECT_NE(reached.bytes, reachedBefore.bytes) << c.first;
        EXPECT_EQ(StateOf(toVictim ? "att/own.png" : "safe/victim.png"), toVictim ? his : victim)
            << c.first;
        EXPECT_EQ(Names("att"), (std::vector<std::string>{"out.png", "own.png"}));
        EXPECT_EQ(Names("safe"), std::vector<std::string>{"victim.png"});
    }
}

// Root rewrites its 0600 file 60 times while the other user, told of each
// new name in the folder, tries to open it for reading and for writing: in a
// plain folder, and in one whose default access list grants him both. The
// file's mode is set only after a pause, time enough for him to try.
TEST(HostileFolderTest, NoOtherUserOpensTheTemporaryFile) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "another user's watch needs root";
    }
    ScratchDir scratch;
    chmod(scratch.path.c_str(), 0755);
    for (const bool defaultList : {false, true}) {
        const std::string folder = defaultList ? "default-list" : "plain";
        std::filesystem::create_directory(folder);
        chmod(folder.c_str(), 0755);
        const std::string list = AccessListFor60001();
        if (defaultList && setxattr(folder.c_str(), "system.posix_acl_default", list.data(),
                                    list.size(), 0) != 0) {
            ADD_FAILURE() << "no default access list here: " << std::strerror(errno);
            continue;
        }
        const std::string file = folder + "/secret.png";
        WriteFile(file, "old");
        chmod(file.c_str(), 0600);
        int done[2];
        int ready[2];
        ASSERT_EQ(pipe(done), 0);
        ASSERT_EQ(pipe(ready), 0);
        const pid_t watcher = fork();
        if (watcher == 0) {
            close(done[1]);
            const int watch = inotify_init1(0);
            if (setresgid(kOther, kOther, kOther) != 0 || setresuid(kOther, kOther, kOther) != 0 ||
                inotify_add_watch(watch, folder.c_str(), IN_CREATE) < 0 ||
                write(ready[1], "", 1) != 1) {
                _exit(255);
            }
            int opened = 0;
            pollfd waits[] = {{watch, POLLIN, 0}, {done[0], POLLIN, 0}};
            alignas(inotify_event) char events[4096];
            while (poll(waits, 2, -1) > 0 && (waits[0].revents & POLLIN) != 0) {
                const ssize_t length = read(watch, events, sizeof events);
                for (ssize_t at = 0; at < length;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                    const std::string name = folder + "/" + event->name;
                    for (const int how : {O_RDONLY, O_WRONLY}) {
                        const int fd = open(name.c_str(), how | O_NONBLOCK);
                        opened += fd >= 0;
                        close(fd);
                    }
                    at += static_cast<ssize_t>(sizeof *event + event->len);
                }
            }
            _exit(opened > 250 ? 250 : opened);
        }
        close(done[0]);
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1) << "the watcher could not start";
        for (int run = 0; run < 60; ++run) {
            EXPECT_EQ(ExitStatus(Start({"zemQRCode", file, "RUN " + std::to_string(run)}, nullptr,
                                       WithShim({"ZEM_SHIM_SLOW_FCHMOD=20"}))),
                      0);
        }
        close(done[1]);
        close(ready[0]);
        close(ready[1]);
        EXPECT_EQ(ExitStatus(watcher), 0) << folder << ": temporary files opened";
        const FileState after = StateOf(file);
        EXPECT_EQ(after.owner, 0u);
        EXPECT_EQ(after.mode & 07777, 0600u);
    }
}

// A failure to give the new file the old one's attributes or owner: one
// that says it is not possible here writes in place; a resource running
// out (a tmpfs out of inode room, which user attributes are charged to, or
// a quota) fails the write and keeps the old file byte for byte.
TEST(HostileFolderTest, AnAttributeCopyThatRunsOutKeepsTheOldFile) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    ScratchDir scratch;
    utsname system{};
    uname(&system);
    int major = 0;
    int minor = 0;
    std::sscanf(system.release, "%d.%d", &major, &minor);
    // Before Linux 6.6, tmpfs takes no user attributes at all.
    const bool tmpfsKeepsUserAttributes = major > 6 || (major == 6 && minor >= 6);
    const struct {
        const char* name;
        bool smallTmpfs;  // room for the folder, the file, its attribute and one empty file
        std::vector<std::string> environment;
        uid_t owner;
        int status;
        bool inPlace;
    } cases[] = {
        {"tmpfs out of inodes", true, {}, 0, 2, false},
        {"quota on the attribute", false,
         WithShim({"ZEM_SHIM_FSETXATTR=" + std::to_string(EDQUOT)}), 0, 2, false},
        {"quota on the owner", false, WithShim({"ZEM_SHIM_FCHOWN=" + std::to_string(EDQUOT)}),
         kOther, 2, false},
        {"attributes not allowed", false,
         WithShim({"ZEM_SHIM_FSETXATTR=" + std::to_string(ENOTSUP)}), 0, 0, true},
    };
    std::filesystem::create_directory("folder");
    for (const auto& c : cases) {
        if (c.smallTmpfs && !tmpfsKeepsUserAttributes) {
            std::printf("skipped \"%s\": tmpfs keeps user attributes from Linux 6.6, this is %s\n",
                        c.name, system.release);
            continue;
        }
        if (c.smallTmpfs &&
            mount("tmpfs", "folder", "tmpfs", 0, "size=1m,nr_inodes=4,mode=0755") != 0) {
            ADD_FAILURE() << "cannot mount a tmpfs here: " << std::strerror(errno);
            continue;
        }
        ASSERT_EQ(
            RunProgram(ZEM_CLI_PATH, {"zemQRCode", "-s", "2", "folder/keep.bmp", "GOOD"}).status,
            0);
        const std::string note(900, 'n');
        ASSERT_EQ(setxattr("folder/keep.bmp", "user.note", note.data(), note.size(), 0), 0);
        ASSERT_EQ(chown("folder/keep.bmp", c.owner, c.owner), 0);
        const FileState before = StateOf("folder/keep.bmp");
        const pid_t run =
            Start({"zemQRCode", "-s", "2", "folder/keep.bmp", "NEW"}, nullptr, c.environment);
        EXPECT_EQ(ExitStatus(run), c.status) << c.name;
        const FileState after = StateOf("folder/keep.bmp");
        if (c.inPlace) {
            EXPECT_EQ(DecodeQrFileWithZxing("folder/keep.bmp"), "NEW") << c.name;
            EXPECT_EQ(after.inode, before.inode) << c.name;
        } else {
            EXPECT_EQ(after, before) << c.name;
        }
        EXPECT_EQ(Attribute("folder/keep.bmp", "user.note"), note) << c.name;
        EXPECT_EQ(Names("folder"), std::vector<std::string>{"keep.bmp"}) << c.name;
        if (c.smallTmpfs) {
            umount("folder");
        } else {
            std::filesystem::remove("folder/keep.bmp");
        }
    }
}

// -v2 with a FIFO named qr.png ends at once, replacing the FIFO with the
// picture: nothing is ever written into it.
TEST(HostileFolderTest, AFifoNamedQrPngIsReplacedWithoutWaiting) {
    ScratchDir scratch;
    ASSERT_EQ(mkfifo("qr.png", 0666), 0);
    const pid_t run = Start({"zemQRCode", "-v2", "out.png", "HELLO"});
    int status = 0;
    for (int tenth = 0; tenth < 100 && waitpid(run, &status, WNOHANG) == 0; ++tenth) {
        usleep(100000);
    }
    if (kill(run, 0) == 0) {
        kill(run, SIGKILL);
        waitpid(run, &status, 0);
        ADD_FAILURE() << "still waiting on the FIFO after 10 s";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status("qr.png")));
}

}  // namespace
