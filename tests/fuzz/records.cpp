// Attribute records copied out into caller memory, as the list queries do,
// from a decoded list of untrusted bytes, then released as a caller releases
// them. The first byte picks the kind; the rest is the list's result body.
// Anything left allocated is a leak that the sanitizer reports.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "api/attribute_records.h"
#include "velkdirectfe.h"
#include "wire/xdr_routine.h"

namespace {

template <typename Public, typename Res>
void copy_out(const uint8_t* data, size_t size, bool_t (*routine)(XDR*, Res*)) {
    Res answer{};
    XDR xdrs;
    xdrmem_create(&xdrs, reinterpret_cast<char*>(const_cast<uint8_t*>(data)), static_cast<u_int>(size), XDR_DECODE);
    if (routine(&xdrs, &answer) && answer.status == 0 && answer.count != 0) {
        auto* recs = static_cast<Public*>(std::calloc(answer.count, sizeof(Public)));
        for (uint32_t i = 0; recs != nullptr && i < answer.count; ++i) {
            if (vdfe::copy_attr(answer.items[i], &recs[i]) != 0) std::abort(); // only when memory runs out
            // The caller sees the record's own path and its properties in order.
            if (std::strcmp(recs[i].path, answer.items[i].path) != 0) std::abort();
            const velkdirectfe_nvlist_t* node = recs[i].props;
            for (uint32_t p = 0; p < answer.items[i].prop_count; ++p, node = node->next)
                if (node == nullptr || std::strcmp(node->name, answer.items[i].props[p].name) != 0 ||
                    std::strcmp(node->value, answer.items[i].props[p].value) != 0)
                    std::abort();
            if (node != nullptr) std::abort();
        }
        if (recs != nullptr) vdfe::release_records(answer.count, recs);
    }
    XDR_DESTROY(&xdrs);
    xdr_free(vdfe::wire::xdr_routine(routine), reinterpret_cast<char*>(&answer));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return -1;
    switch (data[0] % 4) {
    case 0: copy_out<velkdirectfe_sensor_attr_t>(data + 1, size - 1, xdr_sensor_attrs_res); break;
    case 1: copy_out<velkdirectfe_ind_attr_t>(data + 1, size - 1, xdr_indicator_attrs_res); break;
    case 2: copy_out<velkdirectfe_fru_attr_t>(data + 1, size - 1, xdr_fru_attrs_res); break;
    default: copy_out<velkdirectfe_comp_attr_t>(data + 1, size - 1, xdr_comp_attrs_res); break;
    }
    return 0;
}
