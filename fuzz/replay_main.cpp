// Runs saved fuzz inputs through a fuzz target without libFuzzer, so that every build,
// whatever its compiler, replays the corpus as an ordinary test.
//
// Arguments are files or folders (read recursively). Fails when it finds no input at all,
// so a missing corpus cannot pass unnoticed.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (fs::is_directory(argv[i])) {
            for (const auto& entry : fs::recursive_directory_iterator(argv[i])) {
                if (entry.is_regular_file()) inputs.push_back(entry.path());
            }
        } else {
            inputs.emplace_back(argv[i]);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::cout << "no inputs to replay\n";
        return 1;
    }
    for (const fs::path& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::cout << "cannot read " << path << '\n';
            return 1;
        }
        const std::vector<char> content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        // An empty input has no storage; libFuzzer hands a valid pointer all the same.
        static const std::uint8_t none = 0;
        const auto* bytes = content.empty() ? &none : reinterpret_cast<const std::uint8_t*>(content.data());
        (void)LLVMFuzzerTestOneInput(bytes, content.size());
    }
    std::cout << "replayed " << inputs.size() << " inputs\n";
    return 0;
}
