#include "web/core_face.h"

#include <algorithm>

#include "app/messages.h"
#include "app/pack_outcome.h"
#include "conversion/convert_blocks.h"
#include "conversion/picture_signature.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"
#include "packing/refusals.h"
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
    byte_source in = byte_source::memory(tiles);
    byte_sink out = byte_sink::memory(bitmap);
    if (width < 1 || height < 1 || !convert_blocks(in, out, width, height)) {
        return refused(std::string(messages::conversion_failed));
    }
    return written(std::move(bitmap), std::string(messages::converted));
}

face_result pack_in_memory(std::string_view name, std::vector<unsigned char> picture_bytes,
                           std::optional<original_tiles> original,
                           const std::function<void(std::size_t, std::size_t)>& progress) {
    const std::string picture_name(name);
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
        return refused(picture_name + std::string(refusals::no_memory));
    }
    return written(std::move(tiles), written_line(pic, packed, original.has_value()));
}

}  // namespace quorvex
