#include "tests/support/e2e_support.h"

#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tests/support/test_support.h"

namespace {

std::string ReadBack(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    std::fclose(file);
    return text;
}

uint32_t Le(const std::string& bytes, size_t at, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    }
    return value;
}

// 8-bit (grey palette) or 24-bit BMP, rows bottom-up.
std::optional<GreyPicture> LoadBmp(const std::string& bytes) {
    if (bytes.size() < 54) {
        return std::nullopt;
    }
    const uint32_t offset = Le(bytes, 10, 4);
    const int width = static_cast<int>(Le(bytes, 18, 4));
    const int height = static_cast<int>(Le(bytes, 22, 4));
    const int bytesPerPixel = static_cast<int>(Le(bytes, 28, 2)) / 8;
    const size_t stride = (static_cast<size_t>(width) * bytesPerPixel + 3) / 4 * 4;
    if (width <= 0 || height <= 0 || offset + stride * height > bytes.size()) {
        return std::nullopt;
    }
    GreyPicture picture{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height)};
    for (int y = 0; y < height; ++y) {
        const size_t row = offset + stride * (height - 1 - y);
        for (int x = 0; x < width; ++x) {
            unsigned sum = 0;
            for (int b = 0; b < bytesPerPixel; ++b) {
                sum +=
                    static_cast<uint8_t>(bytes[row + static_cast<size_t>(x) * bytesPerPixel + b]);
            }
            picture.grey[static_cast<size_t>(y) * width + x] =
                static_cast<uint8_t>(sum / bytesPerPixel);
        }
    }
    return picture;
}

std::optional<GreyPicture> LoadPng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return std::nullopt;
    }
    image.format = PNG_FORMAT_GRAY;
    GreyPicture picture{static_cast<int>(image.width), static_cast<int>(image.height),
                        std::vector<uint8_t>(PNG_IMAGE_SIZE(image))};
    if (png_image_finish_read(&image, nullptr, picture.grey.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        return std::nullopt;
    }
    return picture;
}

}  // namespace

ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& args,
                      long fileSizeLimit) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        dup2(fileno(out), STDOUT_FILENO);
        dup2(fileno(err), STDERR_FILENO);
        if (fileSizeLimit > 0) {
            const rlimit limit{static_cast<rlim_t>(fileSizeLimit),
                               static_cast<rlim_t>(fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadBack(out), ReadBack(err)};
}

std::optional<GreyPicture> LoadPicture(const std::string& path) {
    const std::optional<std::string> bytes = ReadWholeFile(path);
    if (!bytes || bytes->size() < 2) {
        return std::nullopt;
    }
    return bytes->compare(0, 2, "BM") == 0 ? LoadBmp(*bytes) : LoadPng(path);
}

std::optional<std::string> DecodeQrFileWithZxing(const std::string& path) {
    const std::optional<GreyPicture> picture = LoadPicture(path);
    if (!picture) {
        return std::nullopt;
    }
    return DecodeQrGrey(picture->grey.data(), picture->width, picture->height);
}
