// zemQRCode [options...] QRFile [QRMessage]: turns the command line into the
// ten arguments of ZEMQRFile, calls it once and reports its result.
#include "cli/command_line.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diag/build_stamp.h"
#include "qrfile/qrfile.h"

namespace {

[[gnu::used]] const char kModuleId[] = "Prog Version [zemQRCode] " __DATE__ "/" __TIME__
                                       " [" ZEM_BUILD_STAMP ".." ZEMQRFILE_VERSION "]";

constexpr char kProgramName[] = "zemQRCode";
constexpr char kOurBaseName[] = "zemqrcode";  // the name, lower-cased, without extension
constexpr char kVersion[] = ZEMQRFILE_VERSION;
constexpr char kVersionDate[] = ZEM_BUILD_STAMP;

constexpr int kFileNameBufferSize = 256;

struct Settings {
    int mode = 0;
    int version = 0;
    int level = 1;
    int maskPattern = 0;
    int cellSize = 1;
    int charset = 0;
    int length = 0;
    int verbose = 0;
    bool text = false;
    const char* messageFile = nullptr;  // the argument itself, not a copy
    // Where the name, the message and the message file's name stand in argv.
    int fileNameAt = 0;
    int messageAt = 0;
    int messageFileAt = 0;
    char fileName[kFileNameBufferSize] = {};
    char message[kQrMessageBufferSize] = {};
    // An argument that did not fit its buffer; only its beginning is held,
    // so the request is refused rather than run on a cut name or message.
    bool fileNameTooLong = false;
    bool messageTooLong = false;
};

// The program's base name: without a drive prefix and without directories.
const char* BaseName(const char* path) {
    if (std::strlen(path) > 2 && path[1] == ':') {
        path += 2;
    }
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') {
            base = p + 1;
        }
    }
    return base;
}

// Whether the base name, lower-cased and without its extension, is ours.
bool IsOurName(const char* base) {
    size_t length = std::strlen(base);
    const char* dot = std::strrchr(base, '.');
    if (dot != nullptr && dot != base) {
        length = static_cast<size_t>(dot - base);
    }
    if (length != std::strlen(kOurBaseName)) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        const char c = base[i] >= 'A' && base[i] <= 'Z' ? static_cast<char>(base[i] + 32) : base[i];
        if (c != kOurBaseName[i]) {
            return false;
        }
    }
    return true;
}

// Reads a signed decimal number the way "%d" does; text that does not begin
// with a number leaves the setting as it is. Numbers beyond int saturate.
void ReadNumber(const char* text, int* setting) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text) {
        return;
    }
    *setting = value > INT_MAX ? INT_MAX : (value < INT_MIN ? INT_MIN : static_cast<int>(value));
}

// Copies as much of the argument as fits; false when it did not fit whole.
bool CopyArgument(char* buffer, size_t size, const char* argument) {
    const size_t length = strnlen(argument, size);
    const size_t kept = length < size ? length : size - 1;
    std::memcpy(buffer, argument, kept);
    buffer[kept] = '\0';
    return kept == length;
}

void PrintUsage(const char* invokedAs, const Settings& s) {
    std::printf("\n[%s] Ver:%s (20%s) (%dbit) .. Build:%s %s\n\n", kProgramName, kVersion,
                kVersionDate, static_cast<int>(sizeof(void*) * 8), __DATE__, __TIME__);
    std::printf("Usage: %s [options...] QRFile [QRMessage]\n\n", invokedAs);
    std::printf(
        "  QRFile      : Output QR code image file name  (.png or .bmp)\n"
        "  QRMessage   : QR code message\n"
        "\n"
        "  Options...  : Optional parameters\n"
        "    -v        : Verbose mode\n"
        "    -t        : QRMessage is always text\n"
        "    -m dmode  : Data mode                                 [%d]\n"
        "                =0: Auto detect\n"
        "                 1: Number only         3: 8bit data stream\n"
        "                 2: Number + Alphabet   4: Shift-JIS 2byte chara.\n"
        "    -q verion : QR Code version                           [%d]\n"
        "                =0: Auto detect\n"
        "                >0: QR-Version number (1-40)\n"
        "    -e level  : Error collection level                    [%d]\n"
        "                =1: Low                 3: Quality\n"
        "                 2: Midium              4: High\n"
        "    -p pattern: Mask pattern#                             [%d]\n"
        "                =0  : Auto detect\n"
        "                 1-8: Mask pattern number\n"
        "    -s size   : Cell size                                 [%d]\n"
        "    -k code   : Character set type                        [%d]\n"
        "                =0: Auto detect\n"
        "                    If '-f' specified, file contents is not converted.\n"
        "                    Else, QRMessage is used by the code below.\n"
        "                      Windows : Shift-JIS\n"
        "                      Linux   : UTF-8\n"
        "                      HP-UX   : Shift-JIS\n"
        "                 1: Shift-JIS\n"
        "                 2: EUC\n"
        "                 3: UTF-8     (Effective on UNIX only)\n"
        "    -l length : Data byte length                          [%d]\n"
        "                =0: Auto detect\n"
        "    -f file   : QR Code contents file\n"
        "\n",
        s.mode, s.version, s.level, s.maskPattern, s.cellSize, s.charset, s.length);
    std::fflush(stdout);
}

// The setting an option with a value stores into; nullptr for the others.
int* NumericSetting(char option, Settings& s) {
    switch (option) {
        case 'e':
            return &s.level;
        case 'k':
            return &s.charset;
        case 'l':
            return &s.length;
        case 'm':
            return &s.mode;
        case 'p':
            return &s.maskPattern;
        case 'q':
            return &s.version;
        case 's':
            return &s.cellSize;
        default:
            return nullptr;
    }
}

// Walks the arguments into the settings. Returns false when -h asked for
// the usage screen.
bool ParseArguments(int argc, char** argv, Settings& s) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (argument[0] == '+') {
            continue;
        }
        if (argument[0] != '-') {
            if (s.fileName[0] == '\0') {
                s.fileNameTooLong = !CopyArgument(s.fileName, sizeof s.fileName, argument);
                s.fileNameAt = i;
            } else if (s.message[0] == '\0') {
                s.messageTooLong = !CopyArgument(s.message, sizeof s.message, argument);
                s.messageAt = i;
            }
            continue;
        }
        const char option = argument[1];
        const bool hasValue = i + 1 < argc;  // a value is never read past the vector
        if (int* setting = NumericSetting(option, s); setting != nullptr) {
            if (hasValue) {
                ReadNumber(argv[++i], setting);
            }
        } else if (option == 'f') {
            if (hasValue) {
                s.messageFile = argv[++i];
                s.messageFileAt = i;
            }
        } else if (option == 'h') {
            return false;
        } else if (option == 't') {
            s.text = true;
        } else if (option == 'v') {
            if (argument[2] == '\0') {
                s.verbose = 1;
            } else {
                ReadNumber(argument + 2, &s.verbose);
            }
        }
    }
    return true;
}

// Takes the message and the names from the Unicode forms of the arguments
// where they hold more than the ANSI ones. A message goes in UTF-8 unless
// -k 1 or -k 2 names its character set; automatic then means UTF-8, which
// the operation stores as Shift-JIS where that loses nothing (a message
// file is still taken as its bytes). Names stay in the ANSI code page unless
// one of them cannot be held there: then both go in UTF-8. Returns the flags
// this adds.
uint32_t TakeUnicodeForms(const UnicodeArguments& unicode, Settings& s) {
    constexpr int kCharsetUtf8 = 3;
    const bool automatic = s.charset < 1 || s.charset > kCharsetUtf8;
    if (s.messageFile == nullptr && s.messageAt > 0 && (automatic || s.charset == kCharsetUtf8)) {
        const char* utf8 = unicode.utf8[s.messageAt];
        // UTF-8 takes more bytes than the ANSI code page: a long text that
        // code page holds whole goes in the ANSI form when its UTF-8 would
        // not fit the message buffer.
        const bool keepAnsiForm = automatic && unicode.ansiHolds[s.messageAt] &&
                                  !s.messageTooLong &&
                                  strnlen(utf8, sizeof s.message) == sizeof s.message;
        if (!keepAnsiForm) {
            s.messageTooLong = !CopyArgument(s.message, sizeof s.message, utf8);
            s.charset = kCharsetUtf8;
        }
    }
    const bool fileNameHeld = s.fileNameAt == 0 || unicode.ansiHolds[s.fileNameAt];
    const bool messageFileHeld = s.messageFile == nullptr || unicode.ansiHolds[s.messageFileAt];
    if (fileNameHeld && messageFileHeld) {
        return 0;
    }
    s.fileNameTooLong = !CopyArgument(s.fileName, sizeof s.fileName, unicode.utf8[s.fileNameAt]);
    if (s.messageFile != nullptr) {
        s.messageFile = unicode.utf8[s.messageFileAt];
    }
    return IMAGEFLAG_UTF8_NAMES;
}

// A name that would not fit the buffer, before or after ".png" is appended.
bool FileNameTooLong(const Settings& s) {
    if (s.fileNameTooLong) {
        return true;
    }
    const size_t room = kFileNameBufferSize - 1 - kQrPngSuffixLength;
    return QrFileNameGetsPngSuffix(s.fileName) && std::strlen(s.fileName) > room;
}

// The message for a result code: a format taking the code, or nullptr for
// success and for codes that have none.
const char* ResultMessage(int result) {
    struct Range {
        int high;
        int low;
        const char* message;
    };
    static constexpr Range kMessages[] = {
        {ZEMQR_ERR_PARAMETER, ZEMQR_ERR_PARAMETER, "Parameter error\n"},
        {ZEMQR_ERR_FILE_OPEN, ZEMQR_ERR_FILE_OPEN, "Message file not found\n"},
        {ZEMQR_ERR_FILE_READ, ZEMQR_ERR_FILE_READ, "Message file read error\n"},
        {ZEMQR_ERR_IMAGE, ZEMQR_ERR_IMAGE, "Image area create error\n"},
        {ZEMQR_ERR_CROP, ZEMQR_ERR_CROP, "Image area cropping error\n"},
        {ZEMQR_ERR_QR_CREATE, ZEMQR_ERR_QR_CREATE_LAST, "QR Code image create error [%d]\n"},
        {ZEMQR_ERR_QR_DRAW, ZEMQR_ERR_QR_DRAW_LAST, "QR Code image rsecc error [%d]\n"},
        {ZEMQR_PNG_WRITER_OFFSET, ZEMQR_ERR_PNG_LAST, ".png file store error [%d]\n"},
        {ZEMQR_BMP_WRITER_OFFSET, ZEMQR_ERR_BMP_LAST, ".bmp file store error [%d]\n"},
    };
    for (const Range& range : kMessages) {
        if (result <= range.high && result >= range.low) {
            return range.message;
        }
    }
    return nullptr;
}

void ReportResult(int result) {
    const char* message = ResultMessage(result);
    if (message != nullptr) {
        std::fprintf(stderr, message, result);
    }
}

}  // namespace

int RunCommandLine(int argc, char** argv, const UnicodeArguments* unicode) {
    const char* invokedAs = argc > 0 && argv[0] != nullptr ? argv[0] : "";
    const char* base = BaseName(invokedAs);
    if (!IsOurName(base)) {
        std::fprintf(stderr, "\nIllegal execute program name [%s]\n", base);
        return kExitWrongName;
    }

    Settings s;
    if (!ParseArguments(argc, argv, s) || s.fileName[0] == '\0' ||
        (s.message[0] == '\0' && s.messageFile == nullptr)) {
        PrintUsage(invokedAs, s);
        return kExitUsage;
    }

    uint32_t flags = unicode != nullptr ? TakeUnicodeForms(*unicode, s) : 0;
    if (s.verbose > 0) {
        flags |= IMAGEFLAG_VERBOSE;
    }
    if (s.verbose > 1) {
        flags |= IMAGEFLAG_VERBOSE2;
    }
    if (s.text) {
        flags |= IMAGEFLAG_TEXT;
    }
    if (s.messageFile != nullptr) {
        flags |= IMAGEFLAG_MESSAGE_FILE;
        s.messageTooLong = !CopyArgument(s.message, sizeof s.message, s.messageFile);
    }
    if (FileNameTooLong(s) || s.messageTooLong) {
        ReportResult(ZEMQR_ERR_PARAMETER);
        return kExitFailed;
    }

    const int result = ZEMQRFile(flags, s.fileName, s.mode, s.version, s.level, s.maskPattern,
                                 s.cellSize, s.charset, s.length, s.message);
    ReportResult(result);
    return result < 0 ? kExitFailed : kExitWritten;
}
