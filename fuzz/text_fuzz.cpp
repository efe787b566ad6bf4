// Text utilities and dump lines on arbitrary bytes, under every platform
// character set. Every buffer is a heap block of exactly the size the caller
// is told to provide, so any access past it is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "charcode/charcode.h"
#include "diag/diag.h"
#include "fuzz/fuzz_input.h"

namespace {

char* Block(std::size_t size) {
    return static_cast<char*>(std::malloc(size == 0 ? 1 : size));
}

void FullWidth(const char* text) {
    char* out = Block(2 * std::strlen(text) + 1);
    if (ToFullWidthKana(text, out) == 0 && std::strlen(out) > 2 * std::strlen(text)) {
        std::abort();
    }
    std::free(out);
}

void Rows(const char* text, FuzzInput& in) {
    const int rowCount = in.Take<uint8_t>() % 9;
    const int rowWidth = in.Take<uint8_t>() % 41;
    char* rows = Block(static_cast<std::size_t>(rowCount) * rowWidth);
    const int filled = SplitIntoRows(text, rows, rowCount, rowWidth);
    if (filled < -1 || filled > rowCount) {
        std::abort();
    }
    std::free(rows);
}

void Truncate(const char* text, FuzzInput& in) {
    const std::size_t length = std::strlen(text);
    char* copy = Block(length + 1);
    std::memcpy(copy, text, length + 1);
    const int kept = TruncateText(copy, in.Take<int16_t>());
    if (kept < 0 || static_cast<std::size_t>(kept) > length ||
        std::strlen(copy) != static_cast<std::size_t>(kept)) {
        std::abort();
    }
    std::free(copy);
}

void Fields(FuzzInput& in) {
    const int count = in.Take<uint8_t>() % 6;
    const int width = in.Take<uint8_t>() % 24;
    const int direction = in.Take<uint8_t>() % 4;
    const std::size_t size = static_cast<std::size_t>(count) * width;
    char* fields = Block(size);
    for (std::size_t i = 0; i < size; ++i) {
        fields[i] = static_cast<char>(in.Take<uint8_t>());
    }
    ConvertFieldArray(fields, count, width, direction);
    std::free(fields);
}

void Dump(FuzzInput& in) {
    const auto options = in.Take<uint32_t>();
    char label[8] = {};
    for (int i = 0; i < 7; ++i) {
        label[i] = static_cast<char>(in.Take<uint8_t>());
    }
    long position = in.Take<int8_t>();
    int carry = in.Take<int8_t>();
    const long length = static_cast<long>(in.size);
    char* bytes = Block(in.size);
    std::memcpy(bytes, in.data, in.size);
    char* line = Block(DUMP_LINE_SIZE);
    // Lines one after another, as a dumper walks its data.
    for (int lines = 0; lines < 64; ++lines) {
        const long before = position;
        FormatDumpLine(options, label, bytes, length, &position, &carry, line);
        if (strnlen(line, DUMP_LINE_SIZE) == DUMP_LINE_SIZE) {
            std::abort();
        }
        if (position == before) {
            break;
        }
    }
    std::free(line);
    std::free(bytes);
}

void Widths(const char* text, std::size_t size) {
    DisplayWidth(text);
    char* bytes = Block(size);
    std::memcpy(bytes, text, size);
    for (std::size_t i = 0; i < size; ++i) {
        CharExtraBytesWithin(bytes + i, static_cast<long>(size - i));
    }
    std::free(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in{data, size};
    const auto choice = in.Take<uint8_t>();
    SetPlatformCharCode(choice % 3);
    // The text is whatever follows the settings of the chosen utility.
    FuzzInput settings = in;
    in.Take<uint64_t>();
    char* text = Block(in.size + 1);
    std::memcpy(text, in.data, in.size);
    text[in.size] = '\0';
    switch ((choice / 3) % 6) {
        case 0:
            FullWidth(text);
            break;
        case 1:
            Rows(text, settings);
            break;
        case 2:
            Truncate(text, settings);
            break;
        case 3:
            Fields(settings);
            break;
        case 4:
            Dump(settings);
            break;
        default:
            Widths(text, in.size);
            break;
    }
    std::free(text);
    SetPlatformCharCode(CHARCODE_UTF8);
    return 0;
}
