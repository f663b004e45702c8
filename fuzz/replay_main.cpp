// Runs saved fuzz inputs through a fuzz target without libFuzzer, so that every build,
// whatever its compiler, replays the corpus as an ordinary test.
//
// The argument is a folder, read recursively. Fails when it finds no input at all, so a missing
// corpus cannot pass unnoticed.

#include <cstdint>
#include <filesystem>
#include <iostream>

#include "tests/test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    int replayed = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(argc > 1 ? argv[1] : ".")) {
        if (!entry.is_regular_file()) continue;
        const quorvex::bytes content = quorvex::read_file(entry.path());
        // An empty input has no storage; libFuzzer hands a valid pointer all the same.
        static const std::uint8_t none = 0;
        (void)LLVMFuzzerTestOneInput(content.empty() ? &none : content.data(), content.size());
        ++replayed;
    }
    std::cout << "replayed " << replayed << " inputs\n";
    return replayed > 0 ? 0 : 1;
}
