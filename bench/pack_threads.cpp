// pack_threads <picture> <runs> <threads>...: packs a BMP or PNG into a temporary file `runs`
// times with each number of threads in turn, checks that every run writes the same bytes,
// and prints per thread count the median wall time, the median processor time of the whole
// process, and the wall time as a share of the first thread count's.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "packing/pack_blocks.h"
#include "packing/read_picture.h"

using namespace quorvex;

namespace {

struct file_closer {
    void operator()(std::FILE* f) const { (void)std::fclose(f); }
};
using unique_file = std::unique_ptr<std::FILE, file_closer>;

std::vector<unsigned char> contents(std::FILE* file) {
    std::vector<unsigned char> all;
    std::rewind(file);
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) all.push_back(static_cast<unsigned char>(c));
    return all;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::puts("usage: pack_threads <picture> <runs> <threads>...");
        return 1;
    }
    const unique_file in{std::fopen(argv[1], "rb")};
    if (!in) {
        std::puts("cannot open the picture");
        return 1;
    }
    const int runs = std::max(std::stoi(argv[2]), 1);
    std::vector<unsigned char> first_bytes;
    double first_wall = 0;
    for (int arg = 3; arg < argc; ++arg) {
        pack_settings settings;
        settings.threads = static_cast<unsigned>(std::stoul(argv[arg]));
        std::vector<double> wall;
        std::vector<double> processor;
        for (int run = 0; run < runs; ++run) {
            // A picture is packed once: a PNG is decoded as it is packed, so each run reads it
            // again, its decoding timed with the packing.
            picture pic;
            if (read_picture(in.get(), pic) != picture_problem::none) {
                std::puts("cannot read the picture");
                return 1;
            }
            const unique_file out{std::tmpfile()};
            const auto wall_start = std::chrono::steady_clock::now();
            const std::clock_t start = std::clock();
            byte_sink sink = byte_sink::file(out.get());
            const pack_result result = pack_blocks(pic, sink, settings);
            if (result.failed != pack_stage::none || std::fflush(out.get()) != 0) {
                std::puts("packing failed");
                return 1;
            }
            processor.push_back(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
            wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count());
            const std::vector<unsigned char> bytes = contents(out.get());
            if (first_bytes.empty()) first_bytes = bytes;
            if (bytes != first_bytes) {
                std::printf("%u threads wrote other bytes than the first run\n", settings.threads);
                return 1;
            }
        }
        if (arg == 3) first_wall = median(wall);
        std::printf("%u threads: wall %.3f s, processor %.3f s, wall / first %.3f (medians of %d runs)\n",
                    settings.threads, median(wall), median(processor), median(wall) / first_wall, runs);
    }
    std::printf("the same %zu bytes from every run\n", first_bytes.size());
    return 0;
}
