#include "record_marking.h"

namespace velk::protocol {

FragmentMark decode_mark(const unsigned char (&bytes)[kMarkBytes]) {
    std::uint32_t word = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                         (std::uint32_t{bytes[2]} << 8) | bytes[3];
    return {word & ~kLastFragment, (word & kLastFragment) != 0};
}

void encode_mark(FragmentMark mark, unsigned char (&bytes)[kMarkBytes]) {
    std::uint32_t word = (mark.length & ~kLastFragment) | (mark.last ? kLastFragment : 0);
    for (std::size_t i = 0; i < kMarkBytes; ++i) bytes[i] = static_cast<unsigned char>(word >> (24 - 8 * i));
}

bool RecordMarkReader::read_mark(const char*& at, const char* end) {
    while (at < end && have_ < kMarkBytes) bytes_[have_++] = static_cast<unsigned char>(*at++);
    if (have_ < kMarkBytes) return false;
    have_ = 0;
    mark_ = decode_mark(bytes_);
    left_ = mark_.length;
    in_body_ = true;
    return true;
}

bool RecordMarkReader::took_body(std::size_t n) {
    left_ -= static_cast<std::uint32_t>(n);
    if (left_ != 0) return false;
    in_body_ = false;
    return mark_.last;
}

} // namespace velk::protocol
