// The QR image file operation: message in, PNG or BMP file out.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "charcode/charcode.h"
#include "diag/build_stamp.h"
#include "image/image.h"
#include "qrcode/qrcode.h"
#include "qrfile/message_file.h"
#include "qrfile/qrfile.h"

namespace {

[[gnu::used]] const char kModuleId[] = "Prog Version [ZEMQRFile] " __DATE__ "/" __TIME__
                                       " [" ZEM_BUILD_STAMP ".." ZEMQRFILE_VERSION "]";

constexpr int kMessageMax = kQrMessageBufferSize - 1;
constexpr uint32_t kEncoderFlags = IMAGEFLAG_TEXT | IMAGEFLAG_VERBOSE2 | IMAGEFLAG_VERBOSE;
static_assert((QR_FLAG_UTF8_TEXT & kEncoderFlags) == 0, "a caller cannot set the internal flag");
constexpr int kCharsetAuto = 0;
constexpr int kCharsetEuc = 2;
constexpr int kCharsetUtf8 = 3;
// The work Image has room for a version 40 symbol (177 modules) with its
// quiet zone (4 modules each side), plus 2 pixels.
constexpr int kWorkModules = 177 + 8;
constexpr int kWorkMargin = 2;

int Clamp(int value, int low, int high) {
    return value < low ? low : (value > high ? high : value);
}

// Out of range becomes automatic.
int OrAuto(int value, int high) {
    return value < 0 || value > high ? 0 : value;
}

// `suffix` is in lower case.
bool EndsWithIgnoringCase(const char* name, size_t length, const char* suffix) {
    const size_t suffixLength = std::strlen(suffix);
    if (length < suffixLength) {
        return false;
    }
    const char* tail = name + length - suffixLength;
    for (size_t i = 0; i < suffixLength; ++i) {
        const char c = tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] + 32) : tail[i];
        if (c != suffix[i]) {
            return false;
        }
    }
    return true;
}

bool IsBmpName(const char* fileName) {
    return EndsWithIgnoringCase(fileName, std::strlen(fileName), ".bmp");
}

// Reads up to kMessageMax bytes of the file into the zero-filled buffer. An
// empty file has no message to encode and counts as unreadable, as does a
// directory (it opens, but cannot be read).
int LoadMessageFile(const char* path, bool utf8Name, char* buffer) {
    std::FILE* file = OpenMessageFile(path, utf8Name);
    if (file == nullptr) {
        return ZEMQR_ERR_FILE_OPEN;
    }
    const size_t got = std::fread(buffer, 1, kMessageMax, file);
    const bool readFailed = got == 0 || std::ferror(file) != 0;
    const bool closeFailed = std::fclose(file) != 0;
    return readFailed || closeFailed ? ZEMQR_ERR_FILE_READ : ZEMQR_OK;
}

// Single-byte ASCII characters of a text. In Shift-JIS a lead byte takes the
// byte after it along, which may look like ASCII.
size_t AsciiCharacters(const char* text, bool shiftJis) {
    size_t count = 0;
    for (const auto* byte = reinterpret_cast<const unsigned char*>(text); *byte != 0; ++byte) {
        if (shiftJis && IsSjisLeadByte(*byte) && byte[1] != 0) {
            ++byte;
        } else if (*byte < 0x80) {
            ++count;
        }
    }
    return count;
}

// Converts the message in place to Shift-JIS; the rest of the buffer past the
// converted text is zero. A UTF-8 message that would lose a character on the
// way is kept as it is, since readers take 8-bit text as UTF-8; so is one the
// converter could not take on at all. True when the message was kept for
// that reason. ASCII converts to itself, so a result with more ASCII than the
// message has turned something else into it: '?' for a character Shift-JIS
// lacks or a byte that is not UTF-8, '\\' for the yen sign, '~' for the
// overline. (Shift-JIS is never longer than the UTF-8 it comes from, so
// nothing is cut for room.)
bool ConvertToSjis(int charset, char* message, char* converted) {
    if (charset != kCharsetEuc && charset != kCharsetUtf8) {
        return false;
    }
    const bool utf8 = charset == kCharsetUtf8;
    const int result = utf8 ? Utf8ToSjis(message, converted, kQrMessageBufferSize)
                            : EucToSjis(message, converted, kQrMessageBufferSize);
    if (result != 0 ||
        (utf8 && AsciiCharacters(converted, true) != AsciiCharacters(message, false))) {
        return true;
    }
    std::memcpy(message, converted, kQrMessageBufferSize);
    return false;
}

// Crops the drawing out of the work Image and writes it under the name,
// which gets ".png" appended unless it names a BMP or PNG file.
int StoreDrawing(uint32_t options, char* fileName, Image* work, int side) {
    Image* drawing = ImageCrop(IMAGE_CONSUME_SOURCE, work, nullptr, 0, 0, side, side);
    if (drawing == nullptr) {
        ImageFree(work);
        return ZEMQR_ERR_CROP;
    }
    int written = 0;
    if (IsBmpName(fileName)) {
        written = ImageWriteBmp(options, fileName, drawing);
        written = written < 0 ? written + ZEMQR_BMP_WRITER_OFFSET : ZEMQR_OK;
    } else {
        if (QrFileNameGetsPngSuffix(fileName)) {
            std::strcat(fileName, ".png");
        }
        written = ImageWritePng(options, fileName, drawing);
        written = written < 0 ? written + ZEMQR_PNG_WRITER_OFFSET : ZEMQR_OK;
    }
    ImageFree(drawing);
    return written;
}

}  // namespace

void QrFileRemoveUnfinished() {
    ImageRemoveUnfinishedFile();
}

bool QrFileNameGetsPngSuffix(const char* fileName) {
    const size_t length = std::strlen(fileName);
    return !EndsWithIgnoringCase(fileName, length, ".bmp") &&
           !EndsWithIgnoringCase(fileName, length, ".png");
}

int32_t ZEMQR_STDCALL ZEMQRFile(uint32_t flags, char* fileName, int32_t mode, int32_t version,
                                int32_t level, int32_t maskPattern, int32_t cellSize,
                                int32_t charset, int32_t length, const char* message) {
    mode = OrAuto(mode, 4);
    version = OrAuto(version, 40);
    level = Clamp(level, 1, 4);
    cellSize = cellSize < 1 ? 1 : cellSize;
    charset = OrAuto(charset, 3);
    // A longer length would read past the message buffer.
    length = Clamp(length, 0, kMessageMax);

    char messageBuffer[kQrMessageBufferSize] = {};
    char converted[kQrMessageBufferSize] = {};
    if (fileName == nullptr || fileName[0] == '\0' || message == nullptr || message[0] == '\0') {
        return ZEMQR_ERR_PARAMETER;
    }
    const bool fromFile = (flags & IMAGEFLAG_MESSAGE_FILE) != 0;
    if (fromFile) {
        const int loaded =
            LoadMessageFile(message, (flags & IMAGEFLAG_UTF8_NAMES) != 0, messageBuffer);
        if (loaded != ZEMQR_OK) {
            return loaded;
        }
    } else {
        std::memcpy(messageBuffer, message, strnlen(message, kMessageMax));
    }

    // A file's bytes are taken as they are unless a character set is named.
    if (charset == kCharsetAuto && !fromFile) {
        charset = PlatformCharCode() + 1;
    }
    uint32_t encoderFlags = flags & kEncoderFlags;
    if (ConvertToSjis(charset, messageBuffer, converted)) {
        if (mode == 0) {
            mode = QR_MODE_EIGHT_BIT;  // the kept text is not Shift-JIS: never Kanji mode
        }
        if (charset == kCharsetUtf8) {
            encoderFlags |= QR_FLAG_UTF8_TEXT;  // a cut keeps its characters whole
        }
    }
    if (length == 0) {
        length = static_cast<int32_t>(strnlen(messageBuffer, kMessageMax));
    }

    // A cell size whose work Image side overflows cannot have an Image either.
    if (cellSize > (INT32_MAX - kWorkMargin) / kWorkModules) {
        return ZEMQR_ERR_IMAGE;
    }
    const int side = cellSize * kWorkModules + kWorkMargin;
    Image* work = ImageCreate(IMAGE_NO_FILL | IMAGE_FILL_WHITE, side, side, 3, 0, 0, nullptr);
    if (work == nullptr) {
        return ZEMQR_ERR_IMAGE;
    }
    ImageSetMaskPattern(0, work, maskPattern);
    ImageSetCellSize(0, work, cellSize);

    const int drawn = QRCode(encoderFlags, work, 0, 0, mode, version, level,
                             reinterpret_cast<const uint8_t*>(messageBuffer), length);
    if (drawn < 0) {
        ImageFree(work);
        return drawn;
    }
    return StoreDrawing((flags & IMAGEFLAG_UTF8_NAMES) != 0 ? IMAGE_UTF8_NAME : 0, fileName, work,
                        drawn);
}
