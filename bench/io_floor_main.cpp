// The I/O floor as a program of its own, to time against whole runs of quorvex. Opens
// the files as quorvex does.
//
//   io_floor INPUT.tis OUTPUT.bmp WIDTH HEIGHT

#include <iostream>
#include <string>

#include "app/block_count.h"
#include "app/files.h"
#include "bench/io_floor.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: io_floor INPUT.tis OUTPUT.bmp WIDTH HEIGHT\n";
        return 2;
    }
    const stdio_file in = stdio_file::open(argv[1], "rb");
    pending_output out = pending_output::create(argv[2]);
    const bool ok = in && out &&
                    copy_at_io_floor(in.get(), out.get(), parse_block_count(argv[3]),
                                     parse_block_count(argv[4])) &&
                    out.keep();
    if (!ok) std::cerr << "io_floor failed\n";
    return ok ? 0 : 1;
}
