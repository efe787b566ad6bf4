// Helpers for tests that run the built programs and read the files they
// write without going through our own image library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ProgramRun {
    int status;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs the program at `path` with the argument vector `args`; args[0] is the
// name the program sees as its own. A fileSizeLimit above 0 caps the size of
// the files it writes (in bytes), as a shell's ulimit -f does.
ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& args,
                      long fileSizeLimit = 0);

// A PNG (through libpng) or BMP file as top-down 8-bit grey.
struct GreyPicture {
    int width;
    int height;
    std::vector<uint8_t> grey;
};
std::optional<GreyPicture> LoadPicture(const std::string& path);

// Decodes the QR Code in a PNG or BMP file with zxing-cpp.
std::optional<std::string> DecodeQrFileWithZxing(const std::string& path);
