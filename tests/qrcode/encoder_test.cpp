#include <gtest/gtest.h>

#include "diag/memory.h"
#include "qrcode/qrcode.h"
#include "tests/qrcode/qr_test_util.h"
#include "tests/support/test_support.h"
#include "zemqrfile.h"

namespace {

int Detect(const std::string& message, int requested = 0) {
    return DetectDataMode(requested, reinterpret_cast<const uint8_t*>(message.data()),
                          static_cast<int>(message.size()));
}

// Version chosen and bytes encoded.
std::pair<int, int> Select(uint32_t flags, int mode, int version, int level,
                           const std::string& message) {
    Image image{};
    image.flags = flags;
    int count = -1;
    const int chosen = SelectVersion(&image, mode, version, level,
                                     reinterpret_cast<const uint8_t*>(message.data()),
                                     static_cast<int>(message.size()), &count);
    return {chosen, count};
}

const std::string kKanji = Bytes({0x93, 0x5F, 0xE4, 0xAA});

TEST(EncoderTest, DataModeDetection) {
    EXPECT_EQ(Detect(""), QR_MODE_KANJI);
    EXPECT_EQ(Detect("0123"), QR_MODE_NUMERIC);
    EXPECT_EQ(Detect("HELLO WORLD $%*+-./:"), QR_MODE_ALPHANUMERIC);
    EXPECT_EQ(Detect("HELLo"), QR_MODE_EIGHT_BIT);
    EXPECT_EQ(Detect(Bytes({'A', 0, 'B'})), QR_MODE_EIGHT_BIT);
    EXPECT_EQ(Detect(Bytes({'1', 0xB1})), QR_MODE_EIGHT_BIT);
    EXPECT_EQ(Detect(kKanji), QR_MODE_KANJI);
    EXPECT_EQ(Detect(kKanji + "A"), QR_MODE_EIGHT_BIT);
    EXPECT_EQ(Detect(Bytes({0x81, 0x7F})), QR_MODE_KANJI);  // survives the 13-bit packing
    EXPECT_EQ(Detect("hello", QR_MODE_NUMERIC), QR_MODE_NUMERIC);
}

// Pairs in the Kanji ranges whose second byte is below 0x40 would come back
// from a reader as other characters; automatic detection sends them to 8-bit
// mode, and the symbol holds the message's bytes.
TEST(EncoderTest, KanjiPairsThatWouldNotRoundTripAreNotKanji) {
    for (const std::string& message :
         {Bytes({0x82, 0x30}), Bytes({0x93, 0x5F, 0xE1, 0x30}), Bytes({0x9F, 0x00})}) {
        EXPECT_EQ(Detect(message), QR_MODE_EIGHT_BIT);
        EXPECT_EQ(RunQrCode(0, 0, 0, QR_LEVEL_M, 0, message).decoded, message);
    }
    EXPECT_EQ(Detect(Bytes({0x82, 0x30}), QR_MODE_KANJI), QR_MODE_KANJI);
    for (const std::string& message : {kKanji, Bytes({0x81, 0x7F, 0xEB, 0xBF})}) {
        EXPECT_EQ(RunQrCode(0, 0, 0, QR_LEVEL_M, 0, message).decoded, message);
    }
}

TEST(EncoderTest, VersionChoiceAndCutting) {
    const std::string digits(50, '7');
    EXPECT_EQ(Select(0, QR_MODE_NUMERIC, 1, QR_LEVEL_L, digits), std::make_pair(1, 41));
    EXPECT_EQ(RunQrCode(0, 0, 1, QR_LEVEL_L, 0, digits).decoded, digits.substr(0, 41));
    EXPECT_EQ(Select(0, QR_MODE_EIGHT_BIT, 0, QR_LEVEL_L, std::string(3000, 'a')),
              std::make_pair(40, 2953));
    EXPECT_EQ(Select(0, QR_MODE_EIGHT_BIT, 0, QR_LEVEL_L, std::string(18, 'a')),
              std::make_pair(2, 18));
    // With IMAGEFLAG_TEXT no double-byte character is split by the cut.
    std::string nine;
    for (int i = 0; i < 9; ++i) {
        nine += Bytes({0x82, 0xA0 + i});
    }
    EXPECT_EQ(Select(0, QR_MODE_EIGHT_BIT, 1, QR_LEVEL_L, nine), std::make_pair(1, 17));
    EXPECT_EQ(Select(IMAGEFLAG_TEXT, QR_MODE_EIGHT_BIT, 1, QR_LEVEL_L, nine),
              std::make_pair(1, 16));
    EXPECT_EQ(RunQrCode(IMAGEFLAG_TEXT, 3, 1, QR_LEVEL_L, 0, nine).decoded, nine.substr(0, 16));
    // A message ending in a lone lead byte: automatic choice takes the next
    // version and keeps every byte; a half-width kana is a whole character.
    const std::string lone = std::string(16, 'a') + Bytes({0x82});
    EXPECT_EQ(Select(IMAGEFLAG_TEXT, QR_MODE_EIGHT_BIT, 0, QR_LEVEL_L, lone),
              std::make_pair(2, 17));
    EXPECT_EQ(
        Select(IMAGEFLAG_TEXT, QR_MODE_EIGHT_BIT, 0, QR_LEVEL_L, std::string(16, 'a') + "\xB1"),
        std::make_pair(1, 17));
    EXPECT_EQ(Select(IMAGEFLAG_TEXT, QR_MODE_EIGHT_BIT, 1, QR_LEVEL_L, lone),
              std::make_pair(1, 16));
    // UTF-8 text is never read as Shift-JIS (é一 fits version 1 whole); a cut
    // into malformed UTF-8 moves back three bytes at most.
    constexpr uint32_t kUtf8Text = QR_FLAG_UTF8_TEXT | IMAGEFLAG_TEXT;
    EXPECT_EQ(Select(kUtf8Text, QR_MODE_EIGHT_BIT, 0, QR_LEVEL_L, "\u00E9\u4E00"),
              std::make_pair(1, 5));
    EXPECT_EQ(Select(kUtf8Text, QR_MODE_EIGHT_BIT, 1, QR_LEVEL_L, std::string(20, '\x80')),
              std::make_pair(1, 14));
}

TEST(EncoderTest, TraceLines) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunQrCode(IMAGEFLAG_VERBOSE, 0, 1, QR_LEVEL_L, 1, std::string(50, '7'), 1).result,
              31);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[QRCode] Data Mode              =1\n"
              "[QRCode] Version#               =1\n"
              "[QRCode] Error Collection Level =1\n"
              "[QRCode] #of Input  Data bytes  =50\n"
              "[QRCode] #of Output Data bytes  =41\n"
              "[QRCode] #of Print  Data bytes  =19\n"
              "[QRCode] #of Error  Col. bytes  =7\n"
              "[QRCode] Mask#                  =0\n"
              "[QRCode] Image size             =31\n");
    // Levels below 1 are taken as L, above 4 as H.
    for (const auto& [level, traced] : {std::pair{0, 1}, {-3, 1}, {9, 4}}) {
        testing::internal::CaptureStdout();
        const QrCodeRun run = RunQrCode(IMAGEFLAG_VERBOSE, 0, 0, level, 2, "LEVEL");
        const std::string trace = testing::internal::GetCapturedStdout();
        EXPECT_NE(trace.find("Error Collection Level =" + std::to_string(traced) + "\n"),
                  std::string::npos);
        EXPECT_EQ(run.decoded, "LEVEL");
    }
}

TEST(EncoderTest, MessageLengthEdges) {
    // 0 and negative counts both mean "up to the first NUL".
    const char message[] = "HELLO\0WORLD";
    for (int byteCount : {0, -5}) {
        Image* canvas = ImageCreate(IMAGE_FILL_WHITE, 187, 187, 3, 0, 0, nullptr);
        ASSERT_NE(canvas, nullptr);
        EXPECT_EQ(QRCode(0, canvas, 0, 0, 0, 0, QR_LEVEL_L,
                         reinterpret_cast<const uint8_t*>(message), byteCount),
                  31);
        EXPECT_EQ(DecodeQrImage(canvas), "HELLO");
        EXPECT_EQ(QRCode(0, canvas, 0, 0, 0, 0, QR_LEVEL_L, nullptr, byteCount), 31);
        ImageFree(canvas);
    }
    EXPECT_EQ(RunQrCode(0, 0, 0, QR_LEVEL_M, 0, std::string(Bytes({'A', 0, 'B'}))).decoded,
              Bytes({'A', 0, 'B'}));
}

// Every allocation of the encoder can fail; the code tells which, and the
// module planes are gone whatever happened. The drawing needs no memory.
TEST(EncoderTest, FailedAllocations) {
    const int expected[] = {QR_ERR_MODULES, QR_ERR_MODULE_KINDS, 31};
    for (int call = 1; call <= 3; ++call) {
        Image* canvas = ImageCreate(IMAGE_FILL_WHITE, 187, 187, 3, 0, 0, nullptr);
        ASSERT_NE(canvas, nullptr);
        MemFailAt(call);
        const int result =
            QRCode(0, canvas, 0, 0, 0, 0, QR_LEVEL_M, reinterpret_cast<const uint8_t*>("FAIL"), 4);
        MemFailAt(0);
        EXPECT_EQ(result, expected[call - 1]) << "allocation " << call;
        EXPECT_EQ(canvas->modules, nullptr);
        EXPECT_EQ(canvas->moduleKinds, nullptr);
        ImageFree(canvas);
    }
}

}  // namespace
