// Attribute wire records: a fixed block, the strings the public record holds
// as pointers, and the property array.
#include "bounded_xdr.h"
#include "velkdirectfe_wire.h"

using namespace vdfe::wire;

extern "C" {

bool_t xdr_prop_node(XDR* xdrs, prop_node* node) {
    return string(xdrs, &node->name) && string(xdrs, &node->value);
}

bool_t xdr_velkfe_sensor_attr(XDR* xdrs, velkfe_sensor_attr* rec) {
    return fixed_block(xdrs, rec->block, sizeof rec->block) && string(xdrs, &rec->path) &&
           string(xdrs, &rec->aux_str) && string(xdrs, &rec->opt_str) &&
           counted_array(xdrs, &rec->props, &rec->prop_count, xdr_prop_node);
}

bool_t xdr_test_sensor_attr(XDR* xdrs, test_sensor_attr* rec) {
    return fixed_block(xdrs, rec->block, sizeof rec->block);
}

bool_t xdr_velkfe_ind_attr(XDR* xdrs, velkfe_ind_attr* rec) {
    return fixed_block(xdrs, rec->block, sizeof rec->block) && string(xdrs, &rec->path) &&
           string(xdrs, &rec->aux_str) &&
           counted_array(xdrs, &rec->props, &rec->prop_count, xdr_prop_node);
}

bool_t xdr_velkfe_fru_attr(XDR* xdrs, velkfe_fru_attr* rec) {
    return fixed_block(xdrs, rec->block, sizeof rec->block) && string(xdrs, &rec->path) &&
           string(xdrs, &rec->aux_str) &&
           counted_array(xdrs, &rec->props, &rec->prop_count, xdr_prop_node);
}

bool_t xdr_velkfe_comp_attr(XDR* xdrs, velkfe_comp_attr* rec) {
    return fixed_block(xdrs, rec->block, sizeof rec->block) && string(xdrs, &rec->path) &&
           counted_array(xdrs, &rec->props, &rec->prop_count, xdr_prop_node);
}

bool_t xdr_velkfe_mem_node(XDR* xdrs, velkfe_mem_node* node) {
    return xdr_u_char(xdrs, &node->key0) && xdr_u_char(xdrs, &node->key1);
}

bool_t xdr_velkfe_assoc_t(XDR* xdrs, velkfe_assoc_t* rec) {
    return xdr_u_char(xdrs, &rec->key0) && xdr_u_char(xdrs, &rec->key1) &&
           xdr_u_int(xdrs, &rec->assoc_word) && xdr_u_int(xdrs, &rec->member_count) &&
           counted_array(xdrs, &rec->nodes, &rec->node_count, xdr_velkfe_mem_node);
}

bool_t xdr_velkfe_plat_names_t(XDR* xdrs, velkfe_plat_names_t* names) {
    return xdr_u_char(xdrs, &names->lead_byte) && string(xdrs, &names->name1) &&
           string(xdrs, &names->name2);
}

} // extern "C"
