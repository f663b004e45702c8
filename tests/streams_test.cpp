#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>

#include "streams/byte_sink.h"
#include "streams/byte_source.h"
#include "tests/test_support.h"

namespace quorvex {

TEST(ByteSource, ReadsSeeksAndKnowsItsSizeOnlyWhereItCan) {
    const bytes content = tile_records(1);  // 5120 bytes
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    ASSERT_EQ(100, write(fds[1], content.data(), 100));
    close(fds[1]);
    const unique_file file = temp_file_with(content), pipe_end{fdopen(fds[0], "rb")}, folder{std::fopen("/", "rb")};
    struct row {
        const char* what;
        byte_source source;
        std::optional<std::uint64_t> size;
        std::size_t first_read;  // of 200 bytes after seeking to 5000: the last 120, or a pipe's first 100
        bool fails;
    } rows[] = {{"memory", byte_source::memory(content), 5120, 120, false},
                {"file", byte_source::file(file.get()), 5120, 120, false},
                {"pipe", byte_source::file(pipe_end.get()), std::nullopt, 100, false},
                {"folder", byte_source::file(folder.get()), std::nullopt, 0, true}};
    for (row& r : rows) {
        SCOPED_TRACE(r.what);
        const bool seekable = r.size.has_value();
        EXPECT_EQ(r.size, r.source.size());
        // Whether a folder seeks depends on the system; it cannot be read either way.
        const bool sought = r.source.seek(5000);
        EXPECT_TRUE(r.fails || seekable == sought);
        bytes got(200);
        ASSERT_EQ(r.first_read, r.source.read(got));
        const std::size_t from = seekable ? 5000 : 0;
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(r.first_read), content.begin() + static_cast<std::ptrdiff_t>(from)));
        EXPECT_EQ(r.fails, r.source.failed());
        if (!seekable) continue;
        // Past the end reads nothing; back at the start reads again.
        EXPECT_TRUE(r.source.seek(6000));
        EXPECT_EQ(0u, r.source.read(got));
        EXPECT_TRUE(r.source.seek(10));
        EXPECT_EQ(200u, r.source.read(got));
        EXPECT_TRUE(std::equal(got.begin(), got.end(), content.begin() + 10));
        EXPECT_FALSE(r.source.failed());
    }
}

// A full disk, written or flushed, fails the programs' rows of the end-to-end table.
TEST(ByteSink, AppendsInMemoryAndTakesAnEmptyWrite) {
    bytes memory{1, 2};
    byte_sink in_memory = byte_sink::memory(memory);
    EXPECT_TRUE(in_memory.write(bytes{3, 4}) && in_memory.write({}) && in_memory.flush());
    EXPECT_EQ((bytes{1, 2, 3, 4}), memory);
}

}  // namespace quorvex
