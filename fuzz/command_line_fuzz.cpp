// Arbitrary argument vectors through the console program's command line and
// the QR image file operation. The pieces of the input between NUL bytes are
// the arguments. Everything is written inside a work directory that is
// emptied after each run, but for a few message files kept for -f to find; a
// '/' in an argument becomes '_' so that nothing is written elsewhere, and
// cell sizes are kept to 1-4 so that the work Image stays small.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace {

const char* const kKeptFiles[] = {"m.txt", "e.txt", "d"};

void WriteFile(const char* name, const char* text) {
    std::FILE* file = std::fopen(name, "wb");
    if (file == nullptr || std::fputs(text, file) < 0 || std::fclose(file) != 0) {
        std::abort();
    }
}

bool IsKept(const std::string& name) {
    for (const char* kept : kKeptFiles) {
        if (name == kept) {
            return true;
        }
    }
    return false;
}

// Whether the option takes the next argument as its value, as the program
// reads it: "-x..." with x one of the options that have a value.
bool TakesValue(const std::string& argument) {
    return argument.size() >= 2 && argument[0] == '-' &&
           std::strchr("eklmpqsf", argument[1]) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The trace of -v goes nowhere; messages still go to standard error.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    std::filesystem::create_directory("cli-work");
    if (chdir("cli-work") != 0) {
        std::abort();
    }
    WriteFile("m.txt", "\x82\xA0 message from a file 0123");
    WriteFile("e.txt", "");
    mkdir("d", 0755);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments;
    const bool ownName = size > 0 && (data[0] & 1) != 0;
    if (!ownName) {
        arguments.emplace_back("zemQRCode");
    }
    std::string piece;
    for (size_t i = 1; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            arguments.push_back(piece);
            piece.clear();
        } else {
            piece.push_back(data[i] == '/' ? '_' : static_cast<char>(data[i]));
        }
    }
    for (size_t i = 1; i + 1 < arguments.size(); ++i) {
        if (!TakesValue(arguments[i])) {
            continue;
        }
        if (arguments[i][1] == 's') {
            const std::string& value = arguments[i + 1];
            arguments[i + 1] = std::to_string(1 + (value.empty() ? 0 : value[0] & 3));
        }
        ++i;
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const int status = RunCommandLine(static_cast<int>(argv.size()) - 1, argv.data());
    if (status != 0 && status != 1 && status != 2 && status != 22) {
        std::abort();
    }
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        if (!IsKept(entry.path().filename().string())) {
            std::filesystem::remove_all(entry.path());
        }
    }
    return 0;
}
