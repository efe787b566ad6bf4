#include "tests/support/test_support.h"

#include <ZXing/ReadBarcode.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

ScratchDir::ScratchDir() {
    char pattern[] = "/tmp/zemtest.XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) {
        std::abort();
    }
    path = made;
    previous = std::filesystem::current_path().string();
    std::filesystem::current_path(path);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous, ignored);
    std::filesystem::remove_all(path, ignored);
}

std::optional<std::string> DecodeQrGrey(const uint8_t* grey, int width, int height) {
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(false);
    hints.setBinarizer(ZXing::Binarizer::BoolCast);
    ZXing::ImageView view(grey, width, height, ZXing::ImageFormat::Lum);
    ZXing::Result result = ZXing::ReadBarcode(view, hints);
    if (!result.isValid()) {
        return std::nullopt;
    }
    const auto& bytes = result.bytes();
    return std::string(bytes.begin(), bytes.end());
}

std::optional<std::string> DecodeQrImage(const Image* image) {
    const int width = image->info.width;
    const int height = image->info.height;
    const int bytesPerPixel = image->info.bitCount / 8;
    std::vector<uint8_t> row(static_cast<size_t>(width) * bytesPerPixel);
    std::vector<uint8_t> grey(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        const int offset = ImagePixelOffset(IMAGE_FROM_TOP, image, 0, y);
        if (ImageReadBytes(image, offset, bytesPerPixel, width, row.data()) != 0) {
            return std::nullopt;
        }
        for (int x = 0; x < width; ++x) {
            const uint8_t* pixel = &row[static_cast<size_t>(x) * bytesPerPixel];
            unsigned sum = 0;
            for (int b = 0; b < bytesPerPixel; ++b) {
                sum += pixel[b];
            }
            grey[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(sum / bytesPerPixel);
        }
    }
    return DecodeQrGrey(grey.data(), width, height);
}

std::optional<std::string> DecodeQrFileWithZbar(const std::string& path) {
    // -Sbinary keeps the bytes as they are in the symbol (no text conversion).
    const std::string command = "zbarimg -q --raw -Sbinary '" + path + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    std::string out;
    std::array<char, 4096> chunk{};
    size_t got = 0;
    while ((got = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        out.append(chunk.data(), got);
    }
    if (pclose(pipe) != 0) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

std::string FileBytes(const std::string& path) {
    return ReadWholeFile(path).value_or("");
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return out.good();
}
