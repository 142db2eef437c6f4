// Record marking on a stream socket: every record travels as fragments, each
// after a 4-byte big-endian mark whose top bit says "last fragment" and
// whose other 31 bits give the fragment's length. The one reader of marks
// that the library's client, velkd-sim, the test daemon and the benchmarks
// share; what to keep of the bodies, and how much, stays with each of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk::protocol {

inline constexpr std::uint32_t kLastFragment = 0x80000000u;
inline constexpr std::size_t kMarkBytes = 4;

struct FragmentMark {
    std::uint32_t length = 0;
    bool last = false;
};

// The mark from its four bytes as they travel, and back.
FragmentMark decode_mark(const unsigned char (&bytes)[kMarkBytes]);
void encode_mark(FragmentMark mark, unsigned char (&bytes)[kMarkBytes]);

// Reads a record's marks from bytes as they come, in any pieces, and counts
// down each fragment's body; the caller takes the body bytes it is told of.
//
//   while (at < end) {
//       if (!reader.in_body() && !reader.read_mark(at, end)) break; // mark incomplete
//       std::size_t n = reader.body_bytes(end - at);  // 0 for an empty fragment
//       ... keep [at, at + n) ...
//       at += n;
//       if (reader.took_body(n)) ... the record is complete ...
//   }
class RecordMarkReader {
public:
    bool in_body() const { return in_body_; }
    // Takes mark bytes from `at` (moving it) until a mark is whole: true
    // then, and mark() describes the fragment whose body follows.
    bool read_mark(const char*& at, const char* end);
    const FragmentMark& mark() const { return mark_; }
    // Body bytes of the current fragment not yet taken.
    std::uint32_t fragment_left() const { return left_; }
    // How many of `available` bytes belong to the current fragment's body.
    std::size_t body_bytes(std::size_t available) const { return available < left_ ? available : left_; }
    // Counts `n` body bytes as taken; true when that ended the record's last
    // fragment, after which the reader starts on the next record.
    bool took_body(std::size_t n);

private:
    unsigned char bytes_[kMarkBytes] = {};
    std::size_t have_ = 0;
    FragmentMark mark_;
    std::uint32_t left_ = 0;
    bool in_body_ = false;
};

} // namespace velk::protocol
