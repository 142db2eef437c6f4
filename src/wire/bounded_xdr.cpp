#include "bounded_xdr.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace vdfe::wire {
namespace {

// First allocation for a claimed size: what one chunk of wire data can fill.
constexpr uint64_t kFirstChunkBytes = 4096;

void release_elements(char* items, u_int decoded, u_int elem_size, xdrproc_t elem) {
    for (u_int i = 0; i < decoded; ++i) xdr_free(elem, items + static_cast<size_t>(i) * elem_size);
    std::free(items);
}

} // namespace

bool_t counted_array(XDR* xdrs, char** items, u_int* count, u_int elem_size, xdrproc_t elem) {
    if (xdrs->x_op != XDR_DECODE) return xdr_array(xdrs, items, count, ~0u, elem_size, elem);
    if (*items != nullptr) return FALSE;

    u_int claimed = 0;
    if (!xdr_u_int(xdrs, &claimed)) return FALSE;
    if (claimed == 0) {
        *count = 0;
        return TRUE;
    }

    char* array = nullptr;
    uint64_t capacity = 0;
    for (u_int i = 0; i < claimed; ++i) {
        if (i == capacity) {
            uint64_t grown = capacity ? capacity * 2 : std::max<uint64_t>(1, kFirstChunkBytes / elem_size);
            grown = std::min<uint64_t>(grown, claimed);
            uint64_t bytes = grown * elem_size;
            void* larger = bytes <= SIZE_MAX ? std::realloc(array, static_cast<size_t>(bytes)) : nullptr;
            if (larger == nullptr) {
                release_elements(array, i, elem_size, elem);
                return FALSE;
            }
            array = static_cast<char*>(larger);
            std::memset(array + capacity * elem_size, 0, static_cast<size_t>((grown - capacity) * elem_size));
            capacity = grown;
        }
        if (!elem(xdrs, array + static_cast<size_t>(i) * elem_size)) {
            release_elements(array, i + 1, elem_size, elem); // element i may be half decoded
            return FALSE;
        }
    }
    *items = array;
    *count = claimed;
    return TRUE;
}

bool_t string(XDR* xdrs, char** text) {
    if (xdrs->x_op != XDR_DECODE) {
        // A null string cannot be encoded and needs no freeing; say so before
        // anything takes its length.
        if (*text == nullptr) return xdrs->x_op == XDR_FREE;
        return xdr_string(xdrs, text, ~0u);
    }
    if (*text != nullptr) return FALSE;

    u_int length = 0;
    if (!xdr_u_int(xdrs, &length)) return FALSE;

    uint64_t capacity = std::min<uint64_t>(length, kFirstChunkBytes) + 1;
    char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(capacity)));
    if (buffer == nullptr) return FALSE;
    uint64_t received = 0;
    while (received < length) {
        uint64_t chunk = std::min<uint64_t>(length - received, kFirstChunkBytes);
        if (received + chunk + 1 > capacity) {
            uint64_t grown = std::min<uint64_t>(std::max(capacity * 2, received + chunk + 1), uint64_t{length} + 1);
            void* larger = grown <= SIZE_MAX ? std::realloc(buffer, static_cast<size_t>(grown)) : nullptr;
            if (larger == nullptr) {
                std::free(buffer);
                return FALSE;
            }
            buffer = static_cast<char*>(larger);
            capacity = grown;
        }
        if (!XDR_GETBYTES(xdrs, buffer + received, static_cast<u_int>(chunk))) {
            std::free(buffer);
            return FALSE;
        }
        received += chunk;
    }
    char padding[BYTES_PER_XDR_UNIT];
    u_int pad = (BYTES_PER_XDR_UNIT - length % BYTES_PER_XDR_UNIT) % BYTES_PER_XDR_UNIT;
    if (pad != 0 && !XDR_GETBYTES(xdrs, padding, pad)) {
        std::free(buffer);
        return FALSE;
    }
    buffer[length] = '\0';
    *text = buffer;
    return TRUE;
}

bool_t byte(XDR* xdrs, uint8_t* value) {
    u_int word = *value;
    if (!xdr_u_int(xdrs, &word)) return FALSE;
    *value = static_cast<uint8_t>(word);
    return TRUE;
}

bool_t fixed_block(XDR* xdrs, uint8_t* block, u_int size) {
    return xdr_vector(xdrs, reinterpret_cast<char*>(block), size, 1, xdr_routine(xdr_u_char));
}

} // namespace vdfe::wire
