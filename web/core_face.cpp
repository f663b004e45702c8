#include "web/core_face.h"

#include <algorithm>

#include "app/layout_outcome.h"
#include "app/messages.h"
#include "app/pack_outcome.h"
#include "conversion/bitmap_header.h"
#include "conversion/convert_blocks.h"
#include "conversion/picture_signature.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"
#include "streams/byte_sink.h"
#include "streams/byte_source.h"

namespace quorvex {

namespace {

face_result refused(std::string line) {
    face_result result;
    result.line = std::move(line);
    return result;
}

face_result written(std::vector<unsigned char> bytes, std::string line) {
    face_result result;
    result.written = true;
    result.bytes = std::move(bytes);
    result.line = std::move(line);
    return result;
}

}  // namespace

face_result convert_in_memory(std::string_view name, std::span<const unsigned char> tiles, std::int32_t width,
                              std::int32_t height) {
    // The same checks in the same order as quorvex: a picture first, then the counts.
    if (starts_like_picture(tiles.first(std::min(tiles.size(), picture_signature_bytes)))) {
        return refused(std::string(name).append(messages::not_tile_data));
    }
    std::vector<unsigned char> bitmap;
    // The bitmap's size is known: one allocation, where growing by doubling would briefly hold
    // half as much again.
    if (const auto size = plan_bitmap(width, height)) bitmap.reserve(size->file_bytes);
    byte_source in = byte_source::memory(tiles);
    byte_sink out = byte_sink::memory(bitmap);
    if (width < 1 || height < 1 || !convert_blocks(in, out, width, height)) {
        return refused(std::string(messages::conversion_failed));
    }
    return written(std::move(bitmap), std::string(messages::converted));
}

face_result convert_in_pieces(std::string_view name, std::span<const unsigned char> tiles, std::int32_t width,
                              std::int32_t height, const std::function<void(std::span<const unsigned char>)>& take) {
    if (starts_like_picture(tiles.first(std::min(tiles.size(), picture_signature_bytes)))) {
        return refused(std::string(name).append(messages::not_tile_data));
    }
    // convert_blocks's own refusals, made before any piece is given: counts it cannot plan and
    // fewer records than the bitmap needs.
    const auto size = width < 1 || height < 1 ? std::nullopt : plan_bitmap(width, height);
    const std::uint64_t row_records = std::uint64_t{block_geometry::record_bytes} * static_cast<std::uint64_t>(width);
    if (!size || tiles.size() / row_records < static_cast<std::uint64_t>(height)) {
        return refused(std::string(messages::conversion_failed));
    }
    std::vector<unsigned char> piece;
    byte_sink out = byte_sink::memory(piece);
    if (!write_bitmap_header(out, *size)) return refused(std::string(messages::conversion_failed));
    take(piece);
    // Each block-row is the bitmap of its own records, one block high, without its header.
    for (std::int32_t row = height - 1; row >= 0; --row) {
        piece.clear();
        byte_source in = byte_source::memory(tiles.subspan(static_cast<std::size_t>(static_cast<std::uint64_t>(row) * row_records),
                                                           static_cast<std::size_t>(row_records)));
        if (!convert_blocks(in, out, width, 1)) return refused(std::string(messages::conversion_failed));
        take(std::span<const unsigned char>(piece).subspan(block_geometry::bitmap_header_bytes));
    }
    return written({}, std::string(messages::converted));
}

face_result pack_in_memory(std::string_view name, std::vector<unsigned char> picture_bytes,
                           std::optional<original_tiles> original,
                           const std::function<void(std::size_t, std::size_t)>& progress) {
    const std::string picture_name(name);
    // The programs' order: the original is judged before the picture is read.
    if (original) {
        const std::span<const unsigned char> bytes = original->bytes;
        if (auto why = original_refusal_line(std::string(original->name),
                                                 bytes.first(std::min(bytes.size(), picture_signature_bytes)), bytes.size())) {
            return refused(std::move(*why));
        }
    }
    picture pic;
    const picture_problem problem = read_picture(std::move(picture_bytes), pic);
    if (problem != picture_problem::none) return refused(refused_picture_line(picture_name, problem, pic));

    pack_settings settings;
    settings.progress = progress;
    std::optional<byte_source> model;
    if (original) settings.model = &model.emplace(byte_source::memory(original->bytes));
    std::vector<unsigned char> tiles;
    byte_sink out = byte_sink::memory(tiles);
    const pack_result packed = pack_blocks(pic, out, settings);
    if (packed.failed != pack_stage::none) {
        // Only memory can fail here: the bytes are all present and the output is a vector.
        return refused(picture_name + std::string(pack_messages::no_memory));
    }
    return written(std::move(tiles), written_line(pic, packed, original.has_value()));
}

face_layout guess_layout_in_memory(std::string_view name, std::span<const unsigned char> tiles) {
    face_layout guessed;
    layout_finder finder;
    finder.add(tiles);
    guessed.found = finder.find();
    if (guessed.found.refusal != layout_refusal::none) {
        guessed.lines.push_back(layout_refusal_line(guessed.found, std::string(name)));
        return guessed;
    }
    guessed.lines.push_back(layout_line(layout_messages::layout, guessed.found.best));
    for (const layout_guess& g : guessed.found.also) guessed.lines.push_back(layout_line(layout_messages::also_possible, g));
    return guessed;
}

}  // namespace quorvex
