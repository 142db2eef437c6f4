// Encodes and decodes single XDR items in memory, for byte-exact vectors and
// for scripting the test daemon's replies.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "velkdirectfe_wire.h"
#include "wire/xdr_routine.h"

namespace vdfe::test {

using Bytes = std::vector<uint8_t>;

// Big-endian 4-byte words, the way XDR writes them.
Bytes words(std::initializer_list<uint32_t> values);
Bytes& operator+=(Bytes& a, const Bytes& b);
Bytes operator+(Bytes a, const Bytes& b);
// An XDR string: length, bytes, zero padding.
Bytes xdr_str(const char* text);

Bytes encode_with(xdrproc_t routine, const void* value);

template <typename T>
Bytes encode(bool_t (*routine)(XDR*, T*), const T& value) {
    return encode_with(wire::xdr_routine(routine), &value);
}

// Decodes into *value (zeroed first); the caller frees it with free_decoded.
// Returns whether the routine succeeded and consumed every byte.
bool decode_with(xdrproc_t routine, const Bytes& bytes, void* value);

template <typename T>
bool decode(bool_t (*routine)(XDR*, T*), const Bytes& bytes, T* value) {
    *value = T{};
    return decode_with(wire::xdr_routine(routine), bytes, value);
}

template <typename T>
void free_decoded(bool_t (*routine)(XDR*, T*), T* value) {
    xdr_free(wire::xdr_routine(routine), reinterpret_cast<char*>(value));
}

} // namespace vdfe::test
