// Writes one of the benchmark's tile files, for the scripts in this folder.
//
//   make_bench_input area|tall OUTPUT.tis

#include <iostream>

#include "bench/bench_input.h"

int main(int argc, char** argv) {
    const auto shape = argc == 3 ? find_bench_shape(argv[1]) : std::nullopt;
    if (!shape) {
        std::cerr << "usage: make_bench_input area|tall OUTPUT.tis\n";
        return 2;
    }
    if (!write_bench_input(argv[2], *shape)) {
        std::cerr << "cannot write " << argv[2] << "\n";
        return 1;
    }
    std::cout << shape->width_blocks << " " << shape->height_blocks << "\n";
    return 0;
}
