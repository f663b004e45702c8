// reduce_blocks <in.ppm> <out.ppm> [runs]: reduces every 64 x 64 block of a binary PPM to 256
// colours as packing does, writes the result, and prints the PSNR over the whole picture and the
// median speed of `runs` passes in million pixels per second of processor time on one thread.

#include "conversion/block_geometry.h"
#include "packing/reduce_colours.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

using namespace quorvex;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::puts("usage: reduce_blocks <in.ppm> <out.ppm> [runs]");
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::string magic;
    std::size_t width = 0;
    std::size_t height = 0;
    int maximum = 0;
    in >> magic >> width >> height >> maximum;
    in.get();
    constexpr auto side = static_cast<std::size_t>(block_geometry::block_side);
    if (!in || magic != "P6" || maximum != 255 || width % side != 0 || height % side != 0) {
        std::puts("need a binary PPM with 8-bit samples, width and height multiples of 64");
        return 1;
    }
    // PPM holds red, green, blue; a palette entry blue, green, red.
    std::vector<colour> picture(width * height);
    for (auto& p : picture) {
        in.read(reinterpret_cast<char*>(p.data()), 3);
        std::swap(p[0], p[2]);
    }
    if (!in) {
        std::puts("the picture is shorter than its header says");
        return 1;
    }

    const int runs = argc > 3 ? std::stoi(argv[3]) : 5;
    std::vector<colour> reduced(picture.size());
    std::vector<double> seconds;
    std::vector<colour> block(side * side);
    for (int run = 0; run < std::max(runs, 1); ++run) {
        // Processor time, not wall time: the machine is shared, and this measures one core's work.
        const std::clock_t start = std::clock();
        for (std::size_t top = 0; top < height; top += side) {
            for (std::size_t left = 0; left < width; left += side) {
                for (std::size_t y = 0; y < side; ++y) {
                    std::copy_n(&picture[(top + y) * width + left], side, &block[y * side]);
                }
                const auto result = reduce_colours(block, 256);
                for (std::size_t i = 0; i < block.size(); ++i) {
                    reduced[(top + i / side) * width + left + i % side] = result.palette[result.indices[i]];
                }
            }
        }
        seconds.push_back(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
    }
    std::sort(seconds.begin(), seconds.end());

    double squared_error = 0;
    std::ofstream out(argv[2], std::ios::binary);
    out << "P6\n" << width << ' ' << height << "\n255\n";
    for (std::size_t i = 0; i < picture.size(); ++i) {
        for (std::size_t ch = 0; ch < 3; ++ch) {
            const int diff = int{picture[i][ch]} - int{reduced[i][ch]};
            squared_error += diff * diff;
        }
        const colour& p = reduced[i];
        const char rgb[3] = {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0])};
        out.write(rgb, 3);
    }
    const double mean = squared_error / (3.0 * static_cast<double>(picture.size()));
    const double psnr = mean > 0 ? 10 * std::log10(255.0 * 255.0 / mean) : 999.0;
    const double rate = static_cast<double>(picture.size()) / seconds[seconds.size() / 2] / 1e6;
    std::printf("psnr %.3f dB, %.2f Mpixel/s of processor time (median of %zu runs)\n", psnr, rate, seconds.size());
    return out ? 0 : 1;
}
