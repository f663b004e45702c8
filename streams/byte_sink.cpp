#include "streams/byte_sink.h"

#include <new>
#include <stdexcept>

namespace quorvex {

byte_sink byte_sink::file(std::FILE* stream) {
    byte_sink sink;
    sink.stream_ = stream;
    return sink;
}

byte_sink byte_sink::memory(std::vector<unsigned char>& into) {
    byte_sink sink;
    sink.memory_ = &into;
    return sink;
}

bool byte_sink::write(std::span<const unsigned char> bytes) {
    // An empty span may have no storage at all, which fwrite must not be given.
    if (bytes.empty()) return true;
    if (stream_ != nullptr) return std::fwrite(bytes.data(), 1, bytes.size(), stream_) == bytes.size();
    // The one place memory output can throw: a vector that cannot grow is a full disk here.
    try {
        memory_->insert(memory_->end(), bytes.begin(), bytes.end());
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

bool byte_sink::flush() { return stream_ == nullptr || std::fflush(stream_) == 0; }

}  // namespace quorvex
