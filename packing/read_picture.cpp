#include "packing/read_picture.h"

#include "conversion/block_geometry.h"

// The decoder is built here and nowhere else, for the two formats read, without file access
// of its own (the caller opens the file). A side past 2^20 pixels is refused before any
// allocation; the decoder also refuses pictures past 2 GiB decoded.
#define STBI_NO_STDIO
#define STBI_ONLY_BMP
#define STBI_ONLY_PNG
#define STBI_NO_LINEAR
#define STBI_MAX_DIMENSIONS (1 << 20)
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace {

constexpr int rgb_channels = 3;

int read_bytes(void* file, char* data, int size) {
    return static_cast<int>(std::fread(data, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(file)));
}

// The decoder skips forward only; a failed seek shows as a short read afterwards.
void skip_bytes(void* file, int count) { (void)std::fseek(static_cast<std::FILE*>(file), count, SEEK_CUR); }

int at_end(void* file) { return std::feof(static_cast<std::FILE*>(file)); }

constexpr stbi_io_callbacks file_callbacks{read_bytes, skip_bytes, at_end};

}  // namespace

void decoded_pixels_free::operator()(unsigned char* pixels) const { stbi_image_free(pixels); }

picture_problem read_picture(std::FILE* in, picture& into) {
    int channels = 0;
    if (stbi_info_from_callbacks(&file_callbacks, in, &into.width, &into.height, &channels) == 0 ||
        std::ferror(in) != 0) {
        return picture_problem::unreadable;
    }
    if (into.width <= 0 || into.height <= 0 || into.width % block_geometry::block_side != 0 ||
        into.height % block_geometry::block_side != 0) {
        return picture_problem::size_not_in_blocks;
    }
    if (std::fseek(in, 0, SEEK_SET) != 0) return picture_problem::unreadable;
    int width = 0;
    int height = 0;
    into.pixels.reset(stbi_load_from_callbacks(&file_callbacks, in, &width, &height, &channels, rgb_channels));
    // The second look must agree with the first: the file may have changed in between.
    if (!into.pixels || std::ferror(in) != 0 || width != into.width || height != into.height) {
        into.pixels.reset();
        return picture_problem::unreadable;
    }
    return picture_problem::none;
}
