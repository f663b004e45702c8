// Converts generated pictures file to file and compares the converter with the cost of its
// file traffic alone (the I/O floor) and with the plain byte-at-a-time baseline, which is the
// tests' reference decoder.
//
//   quorvex_bench --benchmark_repetitions=15 --benchmark_enable_random_interleaving=true
//   quorvex_bench --io-floor INPUT.tis OUTPUT.bmp WIDTH HEIGHT     (one floor run, for scripts)

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>

#include "app/block_count.h"
#include "app/files.h"
#include "conversion/bitmap_header.h"
#include "conversion/block_geometry.h"
#include "conversion/block_pixels.h"
#include "conversion/convert_blocks.h"
#include "tests/test_support.h"

using namespace quorvex;

namespace {

namespace fs = std::filesystem;
using namespace block_geometry;
using converter = bool (*)(std::FILE*, std::FILE*, std::int32_t, std::int32_t);

struct shape {
    const char* name;
    std::int32_t width, height;
};
// Wide: most of the time goes into pixels. Tall: many small block-rows.
constexpr shape shapes[] = {{"area", 100, 80}, {"tall", 4, 6000}};

// The file traffic of a conversion with no pixel work: the header, then per block-row one
// seek and one read of its tile records and one write of a strip that was filled once.
bool copy_at_io_floor(std::FILE* in, std::FILE* out, std::int32_t width_blocks, std::int32_t height_blocks) {
    const auto size = plan_bitmap(width_blocks, height_blocks);
    byte_sink header = byte_sink::file(out);
    if (!size || !write_bitmap_header(header, *size)) return false;
    const auto width = static_cast<std::size_t>(size->has_rows ? width_blocks : 0);
    bytes records(width * record_bytes);
    const bytes strip(width * block_strip_bytes, 0x5a);
    for (std::int64_t row = size->has_rows ? height_blocks - 1 : -1; row >= 0; --row) {
        if (fseeko(in, static_cast<off_t>(row * static_cast<std::int64_t>(records.size())), SEEK_SET) != 0 ||
            std::fread(records.data(), 1, records.size(), in) != records.size() ||
            std::fwrite(strip.data(), 1, strip.size(), out) != strip.size()) {
            return false;
        }
    }
    return std::fflush(out) == 0;
}

// The converter as the program calls it, on its open files.
bool convert_files(std::FILE* in, std::FILE* out, std::int32_t width_blocks, std::int32_t height_blocks) {
    byte_source source = byte_source::file(in);
    byte_sink sink = byte_sink::file(out);
    return convert_blocks(source, sink, width_blocks, height_blocks);
}

// Opens and closes the files as the program does, so buffering and the final flush are paid
// for as a user pays for them.
bool file_to_file(converter convert, const fs::path& input, const fs::path& output, std::int32_t width,
                  std::int32_t height) {
    const stdio_file in = stdio_file::open(input.string(), "rb");
    pending_output out = pending_output::create(output.string());
    return in && out && convert(in.get(), out.get(), width, height) && out.keep();
}

void measure(benchmark::State& state, converter convert, const fs::path& input, const shape& s) {
    for (auto _ : state) {
        if (!file_to_file(convert, input, fs::path(input).replace_extension(".bmp"), s.width, s.height)) {
            state.SkipWithError("conversion failed");
            break;
        }
    }
    const auto blocks = std::int64_t{s.width} * s.height;
    state.SetBytesProcessed(state.iterations() * blocks * (record_bytes + block_strip_bytes));
}

// The pixel work alone, memory to memory: every block of `tiles` painted into one strip.
void measure_painting(benchmark::State& state, decltype(&paint_block) paint, const bytes& tiles, const shape& s) {
    const auto width = static_cast<std::size_t>(s.width);
    bytes strip(width * block_strip_bytes);
    for (auto _ : state) {
        for (std::size_t block = 0; block * record_bytes < tiles.size(); ++block) {
            const unsigned char* record = tiles.data() + block * record_bytes;
            paint(record, record + palette_bytes, strip.data() + block % width * block_row_span_bytes,
                  width * block_row_span_bytes);
        }
        benchmark::DoNotOptimize(strip.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(tiles.size() / record_bytes * index_bytes));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string_view(argv[1]) == "--io-floor") {
        return file_to_file(copy_at_io_floor, argv[2], argv[3], parse_block_count(argv[4]), parse_block_count(argv[5])) ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::string folder = (fs::temp_directory_path() / "quorvex-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) return 1;
    bytes area_tiles;  // read by the pixel-only measurements while they run
    for (const shape& s : shapes) {
        // Every block has its own palette and uses all 256 indices.
        const fs::path input = fs::path(folder) / (std::string(s.name) + ".tis");
        const unique_file file{std::fopen(input.c_str(), "wb")};
        for (std::int32_t row = 0; row < s.height; ++row) {
            const bytes records = tile_records(s.width, row * s.width);
            if (!file || std::fwrite(records.data(), 1, records.size(), file.get()) != records.size()) return 1;
        }
        if (std::fflush(file.get()) != 0) return 1;
        // A baseline that wrote other bytes would be measuring other work.
        const fs::path fast = fs::path(folder) / "fast.bmp";
        const fs::path slow = fs::path(folder) / "slow.bmp";
        if (!file_to_file(convert_files, input, fast, s.width, s.height) ||
            !file_to_file(reference_convert, input, slow, s.width, s.height) || read_file(fast) != read_file(slow)) {
            std::cerr << "converter and baseline disagree on " << s.name << "\n";
            return 1;
        }
        fs::remove(fast);
        fs::remove(slow);
        const struct {
            const char* what;
            converter convert;
        } contenders[] = {{"converter", convert_files}, {"io_floor", copy_at_io_floor}, {"baseline", reference_convert}};
        for (const auto& c : contenders) {
            benchmark::RegisterBenchmark((std::string(c.what) + "/" + s.name).c_str(), measure, c.convert, input, s)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
        }
        if (s.name == shapes[0].name) area_tiles = read_file(input);
    }
    const struct {
        const char* what;
        decltype(&paint_block) paint;
    } painters[] = {{"pixels_only/area", paint_block}, {"pixels_only_portable/area", paint_block_portable}};
    for (const auto& p : painters) {
        benchmark::RegisterBenchmark(p.what, measure_painting, p.paint, std::cref(area_tiles), shapes[0])
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
