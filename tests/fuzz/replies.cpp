// The result of every procedure, decoded from untrusted bytes as the client
// decodes a reply's body and then released as the call frame releases it.
// The first byte picks the procedure from the table; the rest is the body.
#include <cstddef>
#include <cstdint>

#include "velkdirectfe_wire.h"
#include "wire/xdr_routine.h"

namespace {

template <typename Res>
void decode(const uint8_t* data, size_t size, bool_t (*routine)(XDR*, Res*)) {
    Res result{};
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(const_cast<uint8_t*>(data)), static_cast<u_int>(size), XDR_DECODE);
    routine(&xdrs, &result); // failed or not, the result is released
    XDR_DESTROY(&xdrs);
    xdr_free(vdfe::wire::xdr_routine(routine), reinterpret_cast<char*>(&result));
}

using Decoder = void (*)(const uint8_t*, size_t);
const Decoder kDecoders[] = {
#define VELKD_PROCEDURE(number, stub, Arg, arg_xdr, Res, res_xdr) \
    [](const uint8_t* d, size_t n) { decode<Res>(d, n, res_xdr); },
#include "transport/procedures.def"
#undef VELKD_PROCEDURE
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return -1;
    constexpr size_t kCount = sizeof kDecoders / sizeof kDecoders[0];
    kDecoders[data[0] % kCount](data + 1, size - 1);
    return 0;
}
