#include "conversion/convert_blocks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "conversion/block_pixels.h"
#include "tests/test_support.h"
#include "web/core_face.h"

namespace quorvex {

namespace {

// The program's way: both ends are open C streams.
bool convert_files(std::FILE* in, std::FILE* out, std::int32_t width, std::int32_t height) {
    byte_source source = byte_source::file(in);
    byte_sink sink = byte_sink::file(out);
    return convert_blocks(source, sink, width, height);
}

// A stream that seeks but whose length the system cannot tell, as a device or a file that
// shrinks while it is read: the data runs out only when it is read.
struct unsized_stream {
    bytes data;
    std::size_t at = 0;
};

ssize_t read_unsized(void* cookie, char* into, std::size_t size) {
    auto& s = *static_cast<unsized_stream*>(cookie);
    const std::size_t got = s.at < s.data.size() ? std::min(size, s.data.size() - s.at) : 0;
    std::copy_n(s.data.begin() + static_cast<std::ptrdiff_t>(s.at), got, into);
    s.at += got;
    return static_cast<ssize_t>(got);
}

int seek_unsized(void* cookie, off64_t* offset, int whence) {
    auto& s = *static_cast<unsized_stream*>(cookie);
    if (whence == SEEK_END) return -1;
    s.at = static_cast<std::size_t>(*offset + (whence == SEEK_CUR ? static_cast<off64_t>(s.at) : 0));
    *offset = static_cast<off64_t>(s.at);
    return 0;
}

}  // namespace

TEST(ConvertBlocks, MatchesTheReferenceOnEveryShapeAndWhereverTheInputEnds) {
    // Shapes with no rows (the header alone) and shapes refused before the first byte, then
    // every small picture.
    struct shape { std::int32_t width, height; bool ok; };
    std::vector<shape> shapes{{0, 3, true}, {3, 0, true}, {33554431, 0, true}, {2, -1, true}, {5, -33554431, true}, {-1, 1, false},
                              {-3, -3, false}, {-2147483647 - 1, 0, false}, {2147483647, 1, false},
                              {0, 2147483647, false}, {349526, 1, false}, {1000, 1000, false}};
    for (std::int32_t width = 1; width <= 9; ++width) {
        for (std::int32_t height = 1; height <= 3; ++height) shapes.push_back({width, height, true});
    }
    for (const shape& s : shapes) {
        const std::size_t records = s.ok && s.width > 0 && s.height > 0 ? static_cast<std::size_t>(s.width * s.height) : 2;
        const bytes all = tile_records(static_cast<int>(records) + 1);
        // The input ends after every record, one record later, inside a palette, right after a
        // palette, one index or more into the indices, on a record boundary, or before the first byte.
        const std::size_t half = records / 2 * 5120;
        for (const std::size_t length : {records * 5120, all.size(), half + 701, half + 1024, half + 1025, half + 3073, half,
                                         std::size_t{0}}) {
            SCOPED_TRACE(std::to_string(s.width) + " x " + std::to_string(s.height) + ", " + std::to_string(length) + " bytes");
            const bytes input(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(length));
            // Every record the picture needs must be there whole; more are ignored.
            const bool whole = s.width < 1 || s.height < 1 || length >= records * 5120;
            const conversion c = convert_bytes(convert_blocks, input, s.width, s.height);
            EXPECT_EQ(s.ok && whole, c.ok);
            // A refusal writes nothing: the sizes and the input's length are known first.
            EXPECT_EQ(c.ok, !c.file.empty());
            const conversion reference = convert_bytes(reference_convert, input, s.width, s.height);
            EXPECT_EQ(reference.ok, c.ok);
            EXPECT_TRUE(!c.ok || reference.file == c.file);
            const conversion through_files = convert_bytes(convert_files, input, s.width, s.height);
            EXPECT_EQ(c.ok, through_files.ok);
            EXPECT_TRUE(through_files.file == c.file) << "files and memory differ";
            // The web page's way: the program's bitmap, or its refusal and nothing.
            const face_result page = convert_in_memory("t.tis", input, s.width, s.height);
            EXPECT_EQ(c.ok && s.width >= 1 && s.height >= 1, page.written);
            EXPECT_TRUE(page.bytes == (page.written ? c.file : bytes()));
            EXPECT_EQ(page.written ? "Tis file converted successfully!" : "Conversion failed!", page.line);
            bytes joined;
            const face_result pieces = convert_in_pieces("t.tis", input, s.width, s.height, [&joined](std::span<const unsigned char> piece) {
                joined.insert(joined.end(), piece.begin(), piece.end());
            });
            EXPECT_EQ(page.line, pieces.line);
            EXPECT_TRUE(joined == page.bytes) << "the pieces are not the bitmap";
        }
    }
    const bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    EXPECT_EQ("p.png is not a tis file!", convert_in_memory("p.png", png, 1, 1).line);
    EXPECT_EQ("p.png is not a tis file!", convert_in_pieces("p.png", png, 1, 1, {}).line);
}

// Failed writes are rows of the end-to-end table; a pipe, a folder and a stream of unknown
// length reach the conversion only from here.
TEST(ConvertBlocks, FailsWhereTheInputCannotBeSoughtOrReadOrRunsOut) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const bytes two = tile_records(2);
    ASSERT_EQ(10240, write(fds[1], two.data(), two.size()));
    close(fds[1]);
    unsized_stream whole{two}, short_by_a_byte{bytes(two.begin(), two.end() - 1)};
    const cookie_io_functions_t unsized{read_unsized, nullptr, seek_unsized, nullptr};
    const struct {
        const char* what;
        unique_file in;
        bool ok;
    } rows[] = {{"a pipe cannot seek", unique_file{fdopen(fds[0], "rb")}, false},
                {"a folder cannot be read", unique_file{std::fopen("/", "rb")}, false},
                {"no length, every record", unique_file{fopencookie(&whole, "rb", unsized)}, true},
                {"no length, a byte short", unique_file{fopencookie(&short_by_a_byte, "rb", unsized)}, false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const unique_file out{std::tmpfile()};
        ASSERT_TRUE(r.in && out);
        EXPECT_EQ(r.ok, convert_files(r.in.get(), out.get(), 1, 2));
        EXPECT_TRUE(!r.ok || read_all(out.get()) == convert_bytes(reference_convert, two, 1, 2).file);
    }
}

// Whether this processor has the 512-bit byte permutes that paint_block takes another path with.
bool processor_has_vector_path() {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
#else
    return false;
#endif
}

TEST(PaintBlock, BothPathsLookUpEveryIndexAndTouchNothingElse) {
    const bytes records = tile_records(3, 5);
    // The middle block of a strip three blocks wide, which is filled with a marker beforehand,
    // as are a row below it and a row above.
    bytes expected = convert_bytes(reference_convert, records, 3, 1).file;
    expected.erase(expected.begin(), expected.begin() + 54);
    for (std::size_t at = 0; at < expected.size(); ++at) {
        if (at % 576 / 192 != 1) expected[at] = 0xEE;
    }
    expected.insert(expected.begin(), 576, 0xEE);
    expected.insert(expected.end(), 576, 0xEE);
    const auto painted = [&records](decltype(&paint_block) paint) {
        bytes strip(66 * 576, 0xEE);
        paint(records.data() + 5120, records.data() + 5120 + 1024, strip.data() + 576 + 192, 576);
        return strip;
    };
    EXPECT_TRUE(expected == painted(paint_block_portable)) << "portable path";
    // Elsewhere paint_block is the portable path itself, already checked.
    if (!processor_has_vector_path()) GTEST_SKIP() << "no vector path on this processor; the portable one passed";
    EXPECT_TRUE(expected == painted(paint_block)) << "vector path";
}

}  // namespace quorvex
