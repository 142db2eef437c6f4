// A malloc'd buffer held for part of one call and released on every path, a
// thread cancelled while it is held included. (malloc, not new: the
// allocation-failure tests fail malloc's allocations one at a time.)
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace vdfe {

struct FreeBuffer {
    void operator()(char* buffer) const noexcept { std::free(buffer); }
};
using HeapBuffer = std::unique_ptr<char, FreeBuffer>;

// Null when memory ran out.
inline HeapBuffer allocate_buffer(std::size_t size) noexcept {
    return HeapBuffer(static_cast<char*>(std::malloc(size)));
}

} // namespace vdfe
