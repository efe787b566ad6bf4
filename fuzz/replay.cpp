// Runs a fuzz target's entry once on every file named on the command line or
// found in a directory named there (in name order), as libFuzzer does with a
// corpus, but without libFuzzer: the ordinary and sanitizer builds replay the
// kept inputs with it. Every input is read before the target's initialiser
// runs, since that may change directory. A fault aborts the run like any
// test; exit status 1 when an input cannot be read or there is none.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> paths;
    for (int i = 1; i < argc; ++i) {
        if (!std::filesystem::is_directory(argv[i])) {
            paths.emplace_back(argv[i]);
            continue;
        }
        const auto first = paths.size();
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
            paths.push_back(entry.path());
        }
        std::sort(paths.begin() + static_cast<std::ptrdiff_t>(first), paths.end());
    }
    std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs;
    for (const auto& path : paths) {
        std::ifstream file(path, std::ios::binary);
        std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
        if (!file.is_open() || file.bad()) {
            std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 1;
        }
        inputs.emplace_back(path.string(), std::move(bytes));
    }
    if (LLVMFuzzerInitialize != nullptr) {
        LLVMFuzzerInitialize(&argc, &argv);
    }
    static const uint8_t kNothing = 0;  // an empty input still gets a valid pointer
    for (const auto& [name, bytes] : inputs) {
        std::fprintf(stderr, "replay: %s\n", name.c_str());
        LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
    }
    std::fprintf(stderr, "replay: %zu inputs\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
