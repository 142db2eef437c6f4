#include "wire_codec.h"

#include <cstring>

namespace vdfe::test {

Bytes words(std::initializer_list<uint32_t> values) {
    Bytes out;
    for (uint32_t v : values)
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
    return out;
}

Bytes& operator+=(Bytes& a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes operator+(Bytes a, const Bytes& b) { return a += b; }

Bytes xdr_str(const char* text) {
    Bytes out = words({static_cast<uint32_t>(std::strlen(text))});
    for (const char* p = text; *p; ++p) out.push_back(static_cast<uint8_t>(*p));
    while (out.size() % 4) out.push_back(0);
    return out;
}

Bytes encode_with(xdrproc_t routine, const void* value) {
    Bytes buffer(xdr_sizeof(routine, const_cast<void*>(value)));
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(buffer.data()), static_cast<u_int>(buffer.size()), XDR_ENCODE);
    bool ok = routine(&xdrs, const_cast<void*>(value)) && xdr_getpos(&xdrs) == buffer.size();
    xdr_destroy(&xdrs);
    return ok ? buffer : Bytes{};
}

bool decode_with(xdrproc_t routine, const Bytes& bytes, void* value) {
    XDR xdrs;
    Bytes copy = bytes;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(copy.data()), static_cast<u_int>(copy.size()), XDR_DECODE);
    bool ok = routine(&xdrs, value) && xdr_getpos(&xdrs) == copy.size();
    xdr_destroy(&xdrs);
    return ok;
}

} // namespace vdfe::test
