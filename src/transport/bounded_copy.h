// Copies at most size-1 bytes of source and always ends dest with a NUL
// (size > 0). glibc 2.36 has no strlcpy, and a compatibility library for one
// function is not worth the dependency.
#pragma once

#include <cstddef>
#include <cstring>

namespace vdfe {

inline std::size_t bounded_copy(char* dest, const char* source, std::size_t size) {
    std::size_t length = std::strlen(source);
    if (size != 0) {
        std::size_t n = length < size - 1 ? length : size - 1;
        std::memcpy(dest, source, n);
        dest[n] = '\0';
    }
    return length;
}

} // namespace vdfe
