// Stands in for libFuzzer in ordinary builds: runs the target once on every
// file named on the command line, descending into folders, so the corpus and
// every crasher found so far are replayed by ctest under any compiler.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::uint8_t> readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Dot files are for git (keeping empty crasher folders), not inputs.
bool isInput(const std::filesystem::directory_entry& entry) {
    return entry.is_regular_file() && entry.path().filename().string().front() != '.';
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path = argv[i];
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
                if (isInput(entry)) inputs.push_back(entry.path());
            }
        } else if (std::filesystem::is_regular_file(path, ec)) {
            inputs.push_back(path);
        } else {
            std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
            return 2;
        }
    }
    // A fixed order makes a failure on one input reproducible run after run.
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
        // Printed first, so the log names the input that brought a crash.
        std::fprintf(stderr, "replaying %s\n", path.string().c_str());
        const std::vector<std::uint8_t> bytes = readAll(path);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}
