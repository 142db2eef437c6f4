#include "attribute_records.h"

#include "ownership.h"
#include "property_lists.h"

namespace vdfe {

template <typename Public>
int copy_attr(const typename AttrKind<Public>::Wire& wire, Public* rec) noexcept {
    // Pointer slots come out of the block null, so a failure below leaves
    // nothing that release_record could mistake for an allocation.
    wire::record_from_block(AttrKind<Public>::layout, wire.block, rec);

    rec->path = strdup(wire.path);
    bool copied = rec->path != nullptr;
    if constexpr (requires { rec->aux_str; }) {
        rec->aux_str = strdup(wire.aux_str);
        copied = copied && rec->aux_str != nullptr;
    }
    if (!copied) return -1;
    if constexpr (requires { rec->opt_str; }) {
        // An empty third string stands for no string.
        if (wire.opt_str[0] != '\0' && (rec->opt_str = strdup(wire.opt_str)) == nullptr) return -1;
    }
    rec->props = nvlist_from_prop_nodes(wire.props, wire.prop_count);
    return wire.prop_count != 0 && rec->props == nullptr ? -1 : 0;
}

template <typename Public>
void release_record(Public* rec) noexcept {
    if (rec == nullptr) return;
    std::free(rec->path);
    if constexpr (requires { rec->aux_str; }) std::free(rec->aux_str);
    if constexpr (requires { rec->aux_ptr_a; }) {
        std::free(rec->aux_ptr_a);
        std::free(rec->aux_ptr_b);
    }
    if constexpr (requires { rec->opt_str; }) std::free(rec->opt_str);
    velkdirectfe_nvlist_free(rec->props);
}

#define VDFE_ATTR_KIND(Public)                                                              \
    template int copy_attr<Public>(const AttrKind<Public>::Wire&, Public*) noexcept;        \
    template void release_record<Public>(Public*) noexcept;
VDFE_ATTR_KIND(velkdirectfe_sensor_attr_t)
VDFE_ATTR_KIND(velkdirectfe_ind_attr_t)
VDFE_ATTR_KIND(velkdirectfe_fru_attr_t)
VDFE_ATTR_KIND(velkdirectfe_comp_attr_t)
#undef VDFE_ATTR_KIND

} // namespace vdfe

using namespace vdfe;

extern "C" {

void velkdirectfe_free_sensor_attr(velkdirectfe_sensor_attr_t* attr) { release_record(attr); }
void velkdirectfe_free_indicator_attr(velkdirectfe_ind_attr_t* attr) { release_record(attr); }
void velkdirectfe_free_fru_attr(velkdirectfe_fru_attr_t* attr) { release_record(attr); }
void velkdirectfe_free_component_attr(velkdirectfe_comp_attr_t* attr) { release_record(attr); }

int velkdirectfe_free_sensor_attrs(int, uint32_t count, velkdirectfe_sensor_attr_t* attrs) {
    return release_records(count, attrs);
}
int velkdirectfe_free_indicator_attrs(int, uint32_t count, velkdirectfe_ind_attr_t* attrs) {
    return release_records(count, attrs);
}
int velkdirectfe_free_fru_attrs(int, uint32_t count, velkdirectfe_fru_attr_t* attrs) {
    return release_records(count, attrs);
}
int velkdirectfe_free_component_attrs(int, uint32_t count, velkdirectfe_comp_attr_t* attrs) {
    return release_records(count, attrs);
}

} // extern "C"
