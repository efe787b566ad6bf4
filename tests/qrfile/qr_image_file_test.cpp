// The QR image file operation called directly: naming, argument ranges,
// message loading and every allocation failure.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

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
