// The result of every procedure, decoded from untrusted bytes as the client
// decodes a reply's body and then released as the call frame releases it.
// The first byte picks the procedure from the table; the rest is the body.
// A decoded result, encoded and decoded again, must encode to the same bytes:
// the bounded decoders agree with the encoders.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "velkdirectfe_wire.h"
#include "wire/xdr_routine.h"

namespace {

template <typename Res>
bool code(void* bytes, size_t size, xdr_op op, bool_t (*routine)(XDR*, Res*), Res* value) {
    XDR xdrs;
    xdrmem_create(&xdrs, static_cast<char*>(bytes), static_cast<u_int>(size), op);
    bool done = routine(&xdrs, value);
    XDR_DESTROY(&xdrs);
    return done;
}

template <typename Res>
void decode(const uint8_t* data, size_t size, bool_t (*routine)(XDR*, Res*)) {
    xdrproc_t free_routine = vdfe::wire::xdr_routine(routine);
    Res result{}; // failed or not, released at the end
    if (code(const_cast<uint8_t*>(data), size, XDR_DECODE, routine, &result)) {
        size_t encoded = xdr_sizeof(free_routine, &result);
        std::vector<char> once(encoded), twice(encoded);
        Res again{};
        if (!code(once.data(), encoded, XDR_ENCODE, routine, &result) ||
            !code(once.data(), encoded, XDR_DECODE, routine, &again) ||
            !code(twice.data(), encoded, XDR_ENCODE, routine, &again) || once != twice)
            std::abort();
        xdr_free(free_routine, reinterpret_cast<char*>(&again));
    }
    xdr_free(free_routine, reinterpret_cast<char*>(&result));
}

using Decoder = void (*)(const uint8_t*, size_t);
const Decoder kDecoders[] = {
#define VELKD_PROCEDURE(number, enumerator, stub, Arg, arg_xdr, Res, res_xdr) \
    [](const uint8_t* d, size_t n) { decode<Res>(d, n, res_xdr); },
#include "procedures.def"
#undef VELKD_PROCEDURE
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return -1;
    constexpr size_t kCount = sizeof kDecoders / sizeof kDecoders[0];
    kDecoders[data[0] % kCount](data + 1, size - 1);
    return 0;
}
