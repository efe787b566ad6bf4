// Runs the built zemQRCode and checks its exit status, its output and the
// files it writes, read back by two independent decoders.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/e2e_support.h"
#include "tests/support/test_support.h"

namespace {

ProgramRun Cli(std::vector<std::string> args) {
    args.insert(args.begin(), "zemQRCode");
    return RunProgram(ZEM_CLI_PATH, args);
}

bool DirectoryIsEmpty() {
    return std::filesystem::is_empty(".");
}

// Both decoders read `file` back as `message`.
void ExpectSymbol(const std::string& file, const std::string& message) {
    EXPECT_EQ(DecodeQrFileWithZxing(file), message) << file << " (zxing-cpp)";
    EXPECT_EQ(DecodeQrFileWithZbar(file), message) << file << " (zbar)";
}

constexpr char kUsageAfterVersionLine[] =
    "  QRFile      : Output QR code image file name  (.png or .bmp)\n"
    "  QRMessage   : QR code message\n"
    "\n"
    "  Options...  : Optional parameters\n"
    "    -v        : Verbose mode\n"
    "    -t        : QRMessage is always text\n"
    "    -m dmode  : Data mode                                 [3]\n"
    "                =0: Auto detect\n"
    "                 1: Number only         3: 8bit data stream\n"
    "                 2: Number + Alphabet   4: Shift-JIS 2byte chara.\n"
    "    -q verion : QR Code version                           [7]\n"
    "                =0: Auto detect\n"
    "                >0: QR-Version number (1-40)\n"
    "    -e level  : Error collection level                    [4]\n"
    "                =1: Low                 3: Quality\n"
    "                 2: Midium              4: High\n"
    "    -p pattern: Mask pattern#                             [-2]\n"
    "                =0  : Auto detect\n"
    "                 1-8: Mask pattern number\n"
    "    -s size   : Cell size                                 [3]\n"
    "    -k code   : Character set type                        [1]\n"
    "                =0: Auto detect\n"
    "                    If '-f' specified, file contents is not converted.\n"
    "                    Else, QRMessage is used by the code below.\n"
    "                      Windows : Shift-JIS\n"
    "                      Linux   : UTF-8\n"
    "                      HP-UX   : Shift-JIS\n"
    "                 1: Shift-JIS\n"
    "                 2: EUC\n"
    "                 3: UTF-8     (Effective on UNIX only)\n"
    "    -l length : Data byte length                          [9]\n"
    "                =0: Auto detect\n"
    "    -f file   : QR Code contents file\n"
    "\n";

TEST(CommandLineTest, UsageScreenShowsTheSettingsGivenBeforeH) {
    ScratchDir scratch;
    const ProgramRun run = Cli({"-m", "3", "-q", "7", "-e", "4", "-p", "-2", "-s", "3", "-k", "1",
                                "-l", "9", "-h", "-s", "5", "out.png", "HELLO"});
    EXPECT_EQ(run.status, 22);
    EXPECT_EQ(run.err, "");
    const std::regex head(
        "\n\\[zemQRCode\\] Ver:25\\.060 \\(20250605\\.0900\\) \\(64bit\\) \\.\\. "
        "Build:[A-Z][a-z]{2} [ 123]\\d \\d{4} \\d\\d:\\d\\d:\\d\\d\n\n"
        "Usage: zemQRCode \\[options\\.\\.\\.\\] QRFile \\[QRMessage\\]\n\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(run.out, match, head, std::regex_constants::match_continuous))
        << run.out;
    EXPECT_EQ(run.out.substr(match.length()), kUsageAfterVersionLine);
    EXPECT_TRUE(DirectoryIsEmpty());
}

TEST(CommandLineTest, ProgramNameIsCheckedFirst) {
    ScratchDir scratch;
    for (const char* name : {"ZEMQRCODE.EXE", "zemqrcode", "C:\\tools\\zemQRCode.exe",
                             "C:zemQRCode", "/usr/local/bin/zemQRCode"}) {
        EXPECT_EQ(RunProgram(ZEM_CLI_PATH, {name, "-h"}).status, 22) << name;
    }
    const std::pair<const char*, const char*> refused[] = {
        {"zemQRCode.old.exe", "zemQRCode.old.exe"},
        {"/opt/bin/qr.exe", "qr.exe"},
        {".zemqrcode", ".zemqrcode"},
        {"C:\\zemQRCode\\x", "x"},
    };
    for (const auto& [name, shown] : refused) {
        const ProgramRun run = RunProgram(ZEM_CLI_PATH, {name, "out.png", "HELLO"});
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, std::string("\nIllegal execute program name [") + shown + "]\n");
    }
    EXPECT_TRUE(DirectoryIsEmpty());
}

TEST(CommandLineTest, MissingArgumentsShowTheUsageScreen) {
    ScratchDir scratch;
    const std::vector<std::vector<std::string>> commandLines = {
        {},
        {"out.png"},
        {"-s4", "out.png", "HELLO"},  // out.png is the cell size, HELLO the output name
        {"-help", "out.png", "HELLO"},
        {"", "out.png"},    // an empty argument fills no buffer
        {"out.png", "-f"},  // -f without its value
        {"+out.png", "HELLO"},
    };
    for (const auto& args : commandLines) {
        const ProgramRun run = Cli(args);
        EXPECT_EQ(run.status, 22) << ::testing::PrintToString(args);
        EXPECT_NE(run.out.find("Usage: zemQRCode"), std::string::npos);
    }
    EXPECT_NE(Cli({"-s", "3", "-h"}).out.find("Cell size                                 [3]\n"),
              std::string::npos);
    EXPECT_TRUE(DirectoryIsEmpty());
}

TEST(CommandLineTest, NamesAndMessagesThatDoNotFitAreRefusedNotCut) {
    ScratchDir scratch;
    const std::string parameterError = "Parameter error\n";
    for (const std::string& name :
         {std::string(256, 'n'), std::string(252, 'n'), std::string(248, 'n') + ".jpg"}) {
        const ProgramRun run = Cli({name, "HELLO"});
        EXPECT_EQ(run.status, 2) << name.size();
        EXPECT_EQ(run.err, parameterError);
    }
    EXPECT_EQ(Cli({"out.png", std::string(8192, '1')}).err, parameterError);
    EXPECT_EQ(Cli({"-f", std::string(8192, 'f'), "out.png"}).err, parameterError);
    EXPECT_TRUE(DirectoryIsEmpty());

    // The longest names that fit, with and without ".png" appended.
    const std::string bmpName = std::string(251, 'b') + ".BMP";
    EXPECT_EQ(Cli({bmpName, "HELLO"}).status, 0);
    ExpectSymbol(bmpName, "HELLO");
    EXPECT_EQ(Cli({std::string(251, 'p'), "HELLO"}).status, 0);
    ExpectSymbol(std::string(251, 'p') + ".png", "HELLO");
    // A message file wins over a positional message, however long.
    WriteFile("msg.txt", "FROM FILE");
    EXPECT_EQ(Cli({"-f", "msg.txt", "file.png", std::string(9000, 'm')}).status, 0);
    ExpectSymbol("file.png", "FROM FILE");
}

TEST(CommandLineTest, FailuresAreReportedAndExitWithStatus2) {
    ScratchDir scratch;
    std::filesystem::create_directory("folder");
    WriteFile("empty.txt", "");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-f", "missing.txt", "out.png"}, "Message file not found\n"},
        {{"-f", "folder", "out.png"}, "Message file read error\n"},
        {{"-f", "empty.txt", "out.png"}, "Message file read error\n"},
        {{"-f", "", "out.png"}, "Parameter error\n"},
        {{"-s", "2147483647", "out.png", "HELLO"}, "Image area create error\n"},
        {{"-s", "20000000", "out.png", "HELLO"}, "Image area create error\n"},
    };
    for (const auto& [args, message] : cases) {
        const ProgramRun run = Cli(args);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(run.err, message);
        EXPECT_EQ(run.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists("out.png"));
}

TEST(CommandLineTest, WorkedExampleWritesA118PixelSymbolSilently) {
    ScratchDir scratch;
    const ProgramRun run = Cli({"-s", "4", "-e", "2", "out.png", "HELLO"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    const auto picture = LoadPicture("out.png");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 118);
    EXPECT_EQ(picture->height, 118);
    ExpectSymbol("out.png", "HELLO");
}

TEST(CommandLineTest, ArgumentWalkEdgeCases) {
    ScratchDir scratch;
    // -v alone is level 1 and takes no value: 2 is the output name.
    ProgramRun run = Cli({"-v", "2", "x.png", "HELLO"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("[QRCode] ", 0), 0u) << run.out;
    ExpectSymbol("2.png", "x.png");
    EXPECT_FALSE(std::filesystem::exists("qr.png"));
    // -v2 writes qr.png, replacing a link planted there rather than writing
    // to the file it points to.
    WriteFile("victim.txt", "victim");
    std::filesystem::create_symlink("victim.txt", "qr.png");
    EXPECT_EQ(Cli({"-v2", "v2.png", "HELLO"}).status, 0);
    EXPECT_EQ(ReadWholeFile("victim.txt"), "victim");
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status("qr.png")));
    // -vv, -verbose and -v0 leave the program quiet.
    for (const char* option : {"-vv", "-verbose", "-v0"}) {
        EXPECT_EQ(Cli({option, "quiet.png", "HELLO"}).out, "") << option;
    }
    // Skipped "+" arguments, a third positional argument, ignored options, an
    // option value that begins with "-", and an option whose value is missing.
    EXPECT_EQ(Cli({"+x", "plus.png", "-X", "-", "HELLO", "THIRD", "-s"}).status, 0);
    ExpectSymbol("plus.png", "HELLO");
    EXPECT_EQ(LoadPicture("plus.png")->width, 31);
    EXPECT_EQ(Cli({"-s", "-4", "-q", "2", "minus.png", "HELLO"}).status, 0);
    EXPECT_EQ(LoadPicture("minus.png")->width, 35);  // cell size 1, version 2
}

TEST(CommandLineTest, JapaneseTextTravelsAsShiftJis) {
    ScratchDir scratch;
    const std::string utf8 = "QR\xE3\x82\xB3\xE3\x83\xBC\xE3\x83\x89 2025";  // QRコード 2025
    const std::string sjis = "QR\x83\x52\x81\x5B\x83\x68 2025";
    const std::string kanjiUtf8 = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語
    const std::string kanjiSjis = "\x93\xFA\x96\x7B\x8C\xEA";
    const std::string kanjiEuc = "\xC6\xFC\xCB\xDC\xB8\xEC";
    WriteFile("utf8.txt", utf8);
    WriteFile("euc.txt", kanjiEuc);

    EXPECT_EQ(Cli({"mixed.png", utf8}).status, 0);
    ExpectSymbol("mixed.png", sjis);
    EXPECT_EQ(Cli({"kanji.bmp", kanjiUtf8}).status, 0);
    ExpectSymbol("kanji.bmp", kanjiSjis);
    EXPECT_EQ(Cli({"-k", "2", "-f", "euc.txt", "euc.png"}).status, 0);
    ExpectSymbol("euc.png", kanjiSjis);
    EXPECT_EQ(Cli({"-k", "3", "-f", "utf8.txt", "file3.png"}).status, 0);
    ExpectSymbol("file3.png", sjis);
    // A message file is taken as it is unless a character set is named, and
    // -k 1 takes the command line as Shift-JIS already.
    EXPECT_EQ(Cli({"-k", "0", "-f", "utf8.txt", "file0.png"}).status, 0);
    ExpectSymbol("file0.png", utf8);
    EXPECT_EQ(Cli({"-k", "1", "raw.png", utf8}).status, 0);
    ExpectSymbol("raw.png", utf8);

    // Text with characters Shift-JIS lacks, or would turn into ASCII (the
    // yen sign into a backslash), is kept as UTF-8, whole; bytes asked for
    // past a converted message are zeros.
    const std::string world =
        "Caf\xC3\xA9 \xE2\x82\xAC"
        "5 Gr\xC3\xBC\xC3\x9F"
        "e \xF0\x9F\x98\x80";
    for (const std::string& kept : {world, std::string("\xC2\xA5") + "500"}) {
        EXPECT_EQ(Cli({"-s", "4", "kept.png", kept}).status, 0);
        ExpectSymbol("kept.png", kept);
    }
    EXPECT_EQ(Cli({"-k", "3", "-l", "12", "padded.png", kanjiUtf8}).status, 0);
    ExpectSymbol("padded.png", kanjiSjis + std::string(6, '\0'));

    // Cut to the 17 bytes of a version 1-L symbol, -t keeps the last
    // double-byte character whole.
    const std::string kana =
        "AB\xE3\x81\x82\xE3\x81\x84\xE3\x81\x86\xE3\x81\x88\xE3\x81\x8A"
        "\xE3\x81\x8B\xE3\x81\x8D\xE3\x81\x8F";  // ABあいうえおかきく
    const std::string kanaSjis =
        "AB\x82\xA0\x82\xA2\x82\xA4\x82\xA6\x82\xA8\x82\xA9\x82\xAB\x82\xAD";
    EXPECT_EQ(Cli({"-q", "1", "-m", "3", "cut.png", kana}).status, 0);
    ExpectSymbol("cut.png", kanaSjis.substr(0, 17));
    EXPECT_EQ(Cli({"-t", "-q", "1", "-m", "3", "text.png", kana}).status, 0);
    ExpectSymbol("text.png", kanaSjis.substr(0, 16));
}

TEST(CommandLineTest, SymbolsDecodeAcrossModesVersionsLevelsMasksAndFormats) {
    ScratchDir scratch;
    std::string text;
    for (int i = 0; i < 120; ++i) {
        text += "Line " + std::to_string(i) + ": mixed Text, 0-9 & symbols! ";
    }
    const struct {
        int mode, version, level, mask, cell;
        const char* file;
        std::string message;
    } cases[] = {
        {1, 1, 1, 1, 1, "numeric.png", "0123456789012345678901234567890123456789"},
        {2, 2, 2, 2, 2, "alnum.bmp", "HELLO WORLD $%*+-./: 42"},
        {3, 5, 3, 3, 3, "bytes.png", "bytes: a~{}|\x7F\x01"},
        {4, 3, 4, 4, 2, "kanji.bmp", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        {0, 7, 1, 5, 1, "v7.png", text.substr(0, 150)},
        {0, 10, 2, 6, 2, "v10.bmp", text.substr(0, 200)},
        {0, 27, 3, 7, 2, "v27.png", text.substr(0, 700)},
        {0, 40, 4, 8, 3, "v40.bmp", text.substr(0, 1273)},
        {0, 40, 1, 0, 4, "v40L.png", text.substr(0, 2953)},
    };
    for (const auto& c : cases) {
        const ProgramRun run = Cli({"-m", std::to_string(c.mode), "-q", std::to_string(c.version),
                                    "-e", std::to_string(c.level), "-p", std::to_string(c.mask),
                                    "-s", std::to_string(c.cell), c.file, c.message});
        ASSERT_EQ(run.status, 0) << c.file << run.err;
        const auto picture = LoadPicture(c.file);
        ASSERT_TRUE(picture) << c.file;
        EXPECT_EQ(picture->width, (4 * c.version + 17 + 8) * c.cell + 2) << c.file;
        const bool kanji = c.mode == 4;
        ExpectSymbol(c.file, kanji ? "\x93\xFA\x96\x7B\x8C\xEA" : c.message);
    }
}

}  // namespace
