// Caller-owned memory comes from malloc; inside the library it is held by a
// unique_ptr until it is handed over with release().
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>

namespace vdfe {

struct FreeDeleter {
    void operator()(void* block) const noexcept { std::free(block); }
};

template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;

template <typename T>
Owned<T> allocate_zeroed(std::size_t count) noexcept {
    return Owned<T>(static_cast<T*>(std::calloc(count, sizeof(T))));
}

inline Owned<char> copy_string(const char* text) noexcept { return Owned<char>(strdup(text)); }

} // namespace vdfe
