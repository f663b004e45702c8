// Converts the generated pictures file to file and compares the converter with the cost of
// its file traffic alone (the I/O floor) and with the plain byte-at-a-time baseline.
//
//   quorvex_bench --benchmark_repetitions=15 --benchmark_enable_random_interleaving=true

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "app/files.h"
#include "bench/bench_input.h"
#include "bench/io_floor.h"
#include "bench/naive_convert.h"
#include "bench/ratio_reporter.h"
#include "conversion/block_geometry.h"
#include "conversion/block_pixels.h"
#include "conversion/convert_blocks.h"

namespace {

namespace fs = std::filesystem;

using converter_fn = bool (*)(std::FILE*, std::FILE*, std::int32_t, std::int32_t);
using painter_fn = void (*)(const unsigned char*, const unsigned char*, unsigned char*, std::size_t);

// The benchmark's files live here and go with it.
class scratch_dir {
public:
    scratch_dir() {
        std::string pattern = (fs::temp_directory_path() / "quorvex-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~scratch_dir() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    [[nodiscard]] const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Opens and closes the files the way the program does, so buffering and the final flush
// are paid for as a user pays for them.
bool file_to_file(converter_fn convert, const fs::path& input, const fs::path& output,
                  const bench_shape& shape) {
    const stdio_file in = stdio_file::open(input.string(), "rb");
    pending_output out = pending_output::create(output.string());
    return in && out && convert(in.get(), out.get(), shape.width_blocks, shape.height_blocks) &&
           out.keep();
}

void measure(benchmark::State& state, converter_fn convert, const fs::path& input,
             const fs::path& output, const bench_shape& shape) {
    for (auto _ : state) {
        if (!file_to_file(convert, input, output, shape)) {
            state.SkipWithError("conversion failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(input_bytes(shape) + bitmap_bytes(shape)));
}

// The pixel work alone, memory to memory: every block of `tiles` painted into one strip.
void measure_painting(benchmark::State& state, painter_fn paint, const std::vector<char>& tiles,
                      const bench_shape& shape) {
    using namespace block_geometry;
    const auto width = static_cast<std::size_t>(shape.width_blocks);
    const auto blocks = width * static_cast<std::size_t>(shape.height_blocks);
    std::vector<unsigned char> strip(width * block_strip_bytes);
    const auto* records = reinterpret_cast<const unsigned char*>(tiles.data());
    for (auto _ : state) {
        for (std::size_t block = 0; block < blocks; ++block) {
            const unsigned char* record = records + block * record_bytes;
            paint(record, record + palette_bytes, strip.data() + block % width * block_row_span_bytes,
                  width * block_row_span_bytes);
        }
        benchmark::DoNotOptimize(strip.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(blocks * index_bytes));
}

std::vector<char> contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A baseline that wrote other bytes would be measuring other work.
bool baseline_matches_converter(const fs::path& input, const fs::path& dir,
                                const bench_shape& shape) {
    const fs::path fast = dir / "check-converter.bmp";
    const fs::path slow = dir / "check-baseline.bmp";
    const bool same = file_to_file(convert_blocks, input, fast, shape) &&
                      file_to_file(naive_convert, input, slow, shape) &&
                      fs::file_size(fast) == bitmap_bytes(shape) && contents(fast) == contents(slow);
    std::error_code ignored;
    fs::remove(fast, ignored);
    fs::remove(slow, ignored);
    return same;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    const scratch_dir dir;
    if (dir.path().empty()) {
        std::cerr << "cannot create a temporary folder\n";
        return 1;
    }
    const std::vector<bench_shape> shapes{area_shape, tall_shape};
    std::vector<char> area_tiles;  // read by the pixel-only measurements while they run
    for (const bench_shape& shape : shapes) {
        const fs::path input = dir.path() / (std::string(shape.name) + ".tis");
        const fs::path output = dir.path() / (std::string(shape.name) + ".bmp");
        if (!write_bench_input(input, shape)) {
            std::cerr << "cannot write " << input << "\n";
            return 1;
        }
        if (!baseline_matches_converter(input, dir.path(), shape)) {
            std::cerr << "converter and baseline disagree on " << shape.name << "\n";
            return 1;
        }
        const struct {
            const char* what;
            converter_fn convert;
        } contenders[] = {{converter_bench, convert_blocks},
                          {floor_bench, copy_at_io_floor},
                          {baseline_bench, naive_convert}};
        for (const auto& c : contenders) {
            benchmark::RegisterBenchmark(bench_name(c.what, shape).c_str(), measure, c.convert, input,
                                         output, shape)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
        }
        if (shape.name == area_shape.name) {
            area_tiles = contents(input);
            const struct {
                const char* what;
                painter_fn paint;
            } painters[] = {{"pixels_only", paint_block}, {"pixels_only_portable", paint_block_portable}};
            for (const auto& p : painters) {
                benchmark::RegisterBenchmark(bench_name(p.what, shape).c_str(), measure_painting, p.paint,
                                             std::cref(area_tiles), shape)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }

    ratio_reporter reporter(shapes);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
