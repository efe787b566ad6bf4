// The QR image file operation called directly: naming, argument ranges,
// message loading and every allocation failure.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "charcode/charcode.h"
#include "diag/memory.h"
#include "qrfile/qrfile.h"
#include "tests/support/e2e_support.h"
#include "tests/support/test_support.h"

namespace {

struct Request {
    uint32_t flags = 0;
    int mode = 0;
    int version = 0;
    int level = 1;
    int mask = 0;
    int cellSize = 1;
    int charset = 0;
    int length = 0;
};

// Calls the operation with a name buffer that has room for ".png".
int Make(const Request& r, std::string& name, const char* message) {
    char buffer[64] = {};
    std::strncpy(buffer, name.c_str(), sizeof buffer - 5);
    const int result = ZEMQRFile(r.flags, buffer, r.mode, r.version, r.level, r.mask, r.cellSize,
                                 r.charset, r.length, message);
    name = buffer;
    return result;
}

TEST(QrImageFileTest, OutputNameChoosesTheFormat) {
    ScratchDir scratch;
    const struct {
        const char* given;
        const char* written;
        bool bmp;
    } cases[] = {
        {"out", "out.png", false},     {"a.BMP", "a.BMP", true},        {"a.Png", "a.Png", false},
        {"a.jpg", "a.jpg.png", false}, {"abcd", "abcd.png", false},     {".bmp", ".bmp", true},
        {"ab", "ab.png", false},       {"x.bmpx", "x.bmpx.png", false},
    };
    for (const auto& c : cases) {
        std::string name = c.given;
        ASSERT_EQ(Make({}, name, "HELLO"), 0) << c.given;
        EXPECT_EQ(name, c.written);
        EXPECT_EQ(FileBytes(name).substr(0, 2), c.bmp ? "BM" : "\x89P") << name;
        EXPECT_EQ(DecodeQrFileWithZxing(name), "HELLO") << name;
    }
}

TEST(QrImageFileTest, MissingArgumentsTouchNoFile) {
    ScratchDir scratch;
    char empty[8] = "";
    char name[8] = "out";
    EXPECT_EQ(ZEMQRFile(0, nullptr, 0, 0, 1, 0, 1, 0, 0, "HELLO"), ZEMQR_ERR_PARAMETER);
    EXPECT_EQ(ZEMQRFile(0, empty, 0, 0, 1, 0, 1, 0, 0, "HELLO"), ZEMQR_ERR_PARAMETER);
    EXPECT_EQ(ZEMQRFile(0, name, 0, 0, 1, 0, 1, 0, 0, nullptr), ZEMQR_ERR_PARAMETER);
    EXPECT_EQ(ZEMQRFile(0, name, 0, 0, 1, 0, 1, 0, 0, ""), ZEMQR_ERR_PARAMETER);
    EXPECT_STREQ(name, "out");
    EXPECT_TRUE(std::filesystem::is_empty("."));
}

TEST(QrImageFileTest, OutOfRangeArgumentsActLikeTheirNearestValue) {
    ScratchDir scratch;
    const struct {
        Request given;
        Request same;
    } cases[] = {
        {{.level = 0}, {.level = 1}},       {{.level = 9}, {.level = 4}},
        {{.version = 41}, {.version = 0}},  {{.version = -3}, {.version = 0}},
        {{.mode = 7}, {.mode = 0}},         {{.mode = -1}, {.mode = 0}},
        {{.cellSize = 0}, {.cellSize = 1}}, {{.charset = 5}, {.charset = 0}},
        {{.length = -4}, {.length = 0}},
    };
    for (const auto& c : cases) {
        std::string given = "given.bmp";
        std::string same = "same.bmp";
        ASSERT_EQ(Make(c.given, given, "HELLO 123"), 0);
        ASSERT_EQ(Make(c.same, same, "HELLO 123"), 0);
        EXPECT_EQ(FileBytes(given), FileBytes(same));
    }
}

TEST(QrImageFileTest, DataLengthIsCutToTheMessageBuffer) {
    ScratchDir scratch;
    std::string digits;
    for (int i = 0; i < 10000; ++i) {
        digits += static_cast<char>('0' + i * 7 % 10);
    }
    std::ofstream("digits.txt", std::ios::binary) << digits;
    std::ofstream("nul.txt", std::ios::binary) << std::string("AB\0CD", 5);

    // Far beyond the message buffer: the symbol holds what fits a version 40
    // symbol at level L in numeric mode, 7089 digits.
    std::string name = "long.png";
    ASSERT_EQ(Make({.flags = IMAGEFLAG_MESSAGE_FILE, .length = 100000}, name, "digits.txt"), 0);
    EXPECT_EQ(DecodeQrFileWithZxing(name), digits.substr(0, 7089));

    name = "short.png";
    ASSERT_EQ(Make({.length = 3}, name, "HELLO"), 0);
    EXPECT_EQ(DecodeQrFileWithZxing(name), "HEL");
    // A zero byte ends a file's message unless the length says otherwise.
    name = "nul0.png";
    ASSERT_EQ(Make({.flags = IMAGEFLAG_MESSAGE_FILE}, name, "nul.txt"), 0);
    EXPECT_EQ(DecodeQrFileWithZxing(name), "AB");
    name = "nul5.png";
    ASSERT_EQ(Make({.flags = IMAGEFLAG_MESSAGE_FILE, .length = 5}, name, "nul.txt"), 0);
    EXPECT_EQ(DecodeQrFileWithZxing(name), std::string("AB\0CD", 5));
}

TEST(QrImageFileTest, AutomaticCharacterSetFollowsThePlatform) {
    ScratchDir scratch;
    const struct {
        int platform;
        const char* message;
    } cases[] = {
        {CHARCODE_UTF8, "\xE6\x97\xA5\xE6\x9C\xAC"},
        {CHARCODE_EUC, "\xC6\xFC\xCB\xDC"},
        {CHARCODE_SJIS, "\x93\xFA\x96\x7B"},
    };
    for (const auto& c : cases) {
        SetPlatformCharCode(c.platform);
        std::string name = "auto.png";
        ASSERT_EQ(Make({}, name, c.message), 0);
        EXPECT_EQ(DecodeQrFileWithZxing(name), "\x93\xFA\x96\x7B") << c.platform;
    }
    SetPlatformCharCode(CHARCODE_UTF8);

    // A malformed EUC-JP character ends the message: none of the message's
    // own bytes from there on are left behind the converted part.
    std::string name = "euc.png";
    ASSERT_EQ(Make({.charset = 2}, name, "\xA4\xA2\xA4\xA2\xA4"), 0);
    EXPECT_EQ(DecodeQrFileWithZxing(name), "\x82\xA0\x82\xA0");
}

// Text kept as UTF-8 (Shift-JIS would lose characters) that is too long for
// the symbol keeps its whole characters that fit, with or without -t, from
// the command line, a -k 3 file and the library with charset 3; the trace
// shows the bytes kept. Each message is `lead`, then `unit` repeated past
// the capacity, which falls 1, 2 or 3 bytes into a 2-, 3- or 4-byte unit.
TEST(QrImageFileTest, OverLongUtf8TextKeepsWholeCharacters) {
    ScratchDir scratch;
    const struct {
        bool text, file, charsetNamed;
        int version, level, capacity;  // the symbol's 8-bit capacity
        std::string lead, unit;
    } cases[] = {
        {false, false, false, 0, 1, 2953, "", "\u00E9"},
        {false, false, true, 0, 1, 2953, "ab", "\U0001F600"},
        {true, false, false, 0, 1, 2953, "\u00E9", "\u4E00"},
        {false, true, true, 0, 1, 2953, "", "\u00FC"},
        {true, true, true, 0, 1, 2953, "abc", "\U0001F600"},
        {false, false, false, 10, 2, 213, "Gr\u00FC\u00DFe ", "\u4E00"},
        {true, false, false, 10, 2, 213, "Gr\u00FC\u00DFe ", "\U0001F600"},
        {false, false, false, 0, 1, 2953, "", "a"},  // ASCII, converted, fills the symbol
    };
    for (const auto& c : cases) {
        std::string message = c.lead;
        while (message.size() < static_cast<size_t>(c.capacity) + 8) {
            message += c.unit;
        }
        const size_t units = (c.capacity - c.lead.size()) / c.unit.size();
        std::string kept = c.lead;
        for (size_t i = 0; i < units; ++i) {
            kept += c.unit;
        }
        WriteFile("message.txt", message);
        const std::string where = c.lead + "|" + c.unit + " -q " + std::to_string(c.version);

        Request library{.version = c.version, .level = c.level, .cellSize = 3, .charset = 3};
        library.flags = (c.text ? IMAGEFLAG_TEXT : 0) | (c.file ? IMAGEFLAG_MESSAGE_FILE : 0);
        std::string name = "library.png";
        ASSERT_EQ(Make(library, name, c.file ? "message.txt" : message.c_str()), 0) << where;
        // Compared whole, reported by size: the texts run to thousands of bytes.
        const std::optional<std::string> read = DecodeQrFileWithZxing(name);
        EXPECT_TRUE(read == kept) << where << ": " << (read ? read->size() : 0) << " bytes read";
#ifdef ZEM_CLI_PATH  // the builds run under qemu start no console program
        std::vector<std::string> args = {"zemQRCode", "-v", "-s", "3"};
        args.insert(args.end(), {"-e", std::to_string(c.level), "-q", std::to_string(c.version)});
        if (c.text) {
            args.push_back("-t");
        }
        if (c.charsetNamed) {
            args.insert(args.end(), {"-k", "3"});
        }
        if (c.file) {
            args.insert(args.end(), {"-f", "message.txt", "cli.png"});
        } else {
            args.insert(args.end(), {"cli.png", message});
        }
        const ProgramRun run = RunProgram(ZEM_CLI_PATH, args);
        ASSERT_EQ(run.status, 0) << where << run.err;
        EXPECT_NE(run.out.find("Output Data bytes  =" + std::to_string(kept.size()) + "\n"),
                  std::string::npos)
            << where << run.out;
        EXPECT_TRUE(FileBytes(name) == FileBytes("cli.png")) << where << ": files differ";
        if (&c == &cases[0]) {
            EXPECT_TRUE(DecodeQrFileWithZbar("cli.png") == kept) << where << " (zbar)";
        }
#endif
    }

    // Text that fits is stored whole, -t or not, in the smallest version:
    // -t's Shift-JIS rule is for Shift-JIS text only.
    const std::string fits = "\u00E9\u4E00";
    for (const int version : {0, 10}) {
        std::string name = "fits.png";
        ASSERT_EQ(
            Make({.flags = IMAGEFLAG_TEXT, .version = version, .charset = 3}, name, fits.c_str()),
            0);
        EXPECT_EQ(DecodeQrFileWithZxing(name), fits) << version;
        if (version == 0) {
            EXPECT_EQ(LoadPicture(name)->width, 31);  // version 1
        }
    }
}

TEST(QrImageFileTest, EveryAllocationFailureIsReportedAndReleased) {
    ScratchDir scratch;
    const char* message = "\xE6\x97\xA5\xE6\x9C\xAC QR";  // needs the UTF-8 converter
    for (long n = 1;; ++n) {
        std::string name = "fail.png";
        const long before = MemAllocCalls();
        MemFailAt(n);
        const int result = Make({.cellSize = 2}, name, message);
        MemFailAt(0);
        if (MemAllocCalls() - before < n) {
            ASSERT_EQ(result, 0);  // the injected failure was never reached
            break;
        }
        // A converter without memory leaves the message as it was, still encodable.
        EXPECT_TRUE(result < 0 || DecodeQrFileWithZxing(name).has_value()) << n;
        std::filesystem::remove(name);
    }
}

}  // namespace
