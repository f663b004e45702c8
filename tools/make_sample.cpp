// Writes the project's sample tile file: 6 x 2 blocks spelling QUORVEX in white over a
// gradient that is bright at the top and dark at the bottom. Every block has its own
// palette in its own hue, so a converted picture shows at a glance whether the layout is
// upright, the blocks are in order and the colours are right.
//
//   make_sample OUTPUT.tis        then: quorvex OUTPUT.tis 6 2

#include <array>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

constexpr int blocks_wide = 6;
constexpr int blocks_high = 2;
constexpr int side = 64;
constexpr int width = blocks_wide * side;
constexpr int height = blocks_high * side;
constexpr int text_index = 255;
constexpr int brightest_gradient_index = 254;

constexpr std::string_view text = "QUORVEX";
constexpr int glyph_columns = 5;
constexpr int glyph_rows = 7;
constexpr int scale = 8;
constexpr int glyph_advance = (glyph_columns + 1) * scale;
constexpr int text_left = (width - (static_cast<int>(text.size()) * glyph_advance - scale)) / 2;
constexpr int text_top = (height - glyph_rows * scale) / 2;

// 5 x 7 glyphs, one string per row, '#' set.
struct glyph {
    char letter;
    std::array<std::string_view, glyph_rows> rows;
};
constexpr std::array<glyph, 7> font{{
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
}};

bool is_text(int x, int y) {
    const int gx = x - text_left;
    const int gy = y - text_top;
    if (gx < 0 || gy < 0 || gy >= glyph_rows * scale) return false;
    const auto letter = static_cast<std::size_t>(gx / glyph_advance);
    const int column = gx % glyph_advance / scale;
    if (letter >= text.size() || column >= glyph_columns) return false;
    for (const glyph& g : font) {
        if (g.letter == text[letter]) {
            return g.rows[static_cast<std::size_t>(gy / scale)][static_cast<std::size_t>(column)] == '#';
        }
    }
    return false;
}

// One hue per block, round the colour wheel, as red, green, blue.
std::array<int, 3> block_hue(int block) {
    constexpr std::array<std::array<int, 3>, 12> hues{{
        {230, 40, 40}, {230, 130, 30}, {220, 200, 30}, {120, 210, 40}, {30, 190, 90}, {30, 190, 190},
        {40, 120, 230}, {70, 60, 230}, {150, 50, 230}, {220, 50, 200}, {230, 50, 120}, {140, 140, 140},
    }};
    return hues[static_cast<std::size_t>(block) % hues.size()];
}

void append_record(std::vector<unsigned char>& out, int block_row, int block_column) {
    const auto [red, green, blue] = block_hue(block_row * blocks_wide + block_column);
    for (int i = 0; i < 256; ++i) {
        if (i == text_index) {
            out.insert(out.end(), {255, 255, 255, 0});
            continue;
        }
        // From a quarter of the hue's strength at index 0 to all of it at the brightest.
        const auto shade = [i](int c) {
            return static_cast<unsigned char>(c * (64 + 191 * i / brightest_gradient_index) / 255);
        };
        out.insert(out.end(), {shade(blue), shade(green), shade(red), 0});
    }
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const int px = block_column * side + x;
            const int py = block_row * side + y;
            const int index =
                is_text(px, py) ? text_index : brightest_gradient_index - py * brightest_gradient_index / (height - 1);
            out.push_back(static_cast<unsigned char>(index));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        (void)std::fputs("usage: make_sample OUTPUT.tis\n", stderr);
        return 2;
    }
    std::vector<unsigned char> data;
    for (int row = 0; row < blocks_high; ++row) {
        for (int column = 0; column < blocks_wide; ++column) append_record(data, row, column);
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(data.data(), 1, data.size(), out) == data.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
