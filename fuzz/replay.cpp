// Runs a fuzz target's entry once on every file named on the command line or
// found in a directory named there (in name order), as libFuzzer does with a
// corpus, but without libFuzzer: the ordinary and sanitizer builds replay the
// kept inputs with it. Every input is read before the target's initialiser
// runs, since that may change directory. A fault aborts the run like any
// test; exit status 1 when an input cannot be read.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

struct Input {
    std::string name;
    std::vector<uint8_t> bytes;
};

bool Load(const std::filesystem::path& path, std::vector<Input>& inputs) {
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file),
                               std::istreambuf_iterator<char>()};
    if (!file.is_open() || file.bad()) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.string().c_str());
        return false;
    }
    inputs.push_back({path.string(), std::move(bytes)});
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Input> inputs;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> paths;
        if (std::filesystem::is_directory(argv[i])) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
                paths.push_back(entry.path());
            }
            std::sort(paths.begin(), paths.end());
        } else {
            paths.emplace_back(argv[i]);
        }
        for (const auto& path : paths) {
            if (!Load(path, inputs)) {
                return 1;
            }
        }
    }
    if (LLVMFuzzerInitialize != nullptr) {
        LLVMFuzzerInitialize(&argc, &argv);
    }
    for (const Input& input : inputs) {
        std::fprintf(stderr, "replay: %s\n", input.name.c_str());
        static const uint8_t kNothing = 0;  // an empty input still gets a valid pointer
        LLVMFuzzerTestOneInput(input.bytes.empty() ? &kNothing : input.bytes.data(),
                               input.bytes.size());
    }
    std::fprintf(stderr, "replay: %zu inputs\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
