// Result envelopes: a status, and a body only when the status is 0.
#include "bounded_xdr.h"
#include "velkdirectfe_wire.h"

using namespace vdfe::wire;

namespace {

// The array envelopes differ only in their element routine.
template <typename Envelope, typename Elem>
bool_t array_envelope(XDR* xdrs, Envelope* env, bool_t (*elem)(XDR*, Elem*)) {
    return envelope(xdrs, env, [elem](XDR* x, Envelope* e) {
        return counted_array(x, &e->items, &e->count, elem);
    });
}

// The fixed-body envelopes differ only in their body's routine and field.
template <typename Envelope, typename Body, typename Routine>
bool_t body_envelope(XDR* xdrs, Envelope* env, Body Envelope::*field, Routine routine) {
    return envelope(xdrs, env, [field, routine](XDR* x, Envelope* e) { return routine(x, &(e->*field)); });
}

} // namespace

extern "C" {

bool_t xdr_sensor_attrs_res(XDR* x, sensor_attrs_res* e) { return array_envelope(x, e, xdr_velkfe_sensor_attr); }
bool_t xdr_indicator_attrs_res(XDR* x, indicator_attrs_res* e) { return array_envelope(x, e, xdr_velkfe_ind_attr); }
bool_t xdr_fru_attrs_res(XDR* x, fru_attrs_res* e) { return array_envelope(x, e, xdr_velkfe_fru_attr); }
bool_t xdr_comp_attrs_res(XDR* x, comp_attrs_res* e) { return array_envelope(x, e, xdr_velkfe_comp_attr); }
bool_t xdr_entity_assoc_res(XDR* x, entity_assoc_res* e) { return array_envelope(x, e, xdr_velkfe_assoc_t); }
bool_t xdr_fru_read_res(XDR* x, fru_read_res* e) { return array_envelope(x, e, byte); }
bool_t xdr_test_res(XDR* x, test_res* e) { return array_envelope(x, e, xdr_test_sensor_attr); }

bool_t xdr_get_plat_names_res(XDR* x, get_plat_names_res* e) {
    return body_envelope(x, e, &get_plat_names_res::names, xdr_velkfe_plat_names_t);
}
bool_t xdr_sensor_reading_res(XDR* x, sensor_reading_res* e) {
    return body_envelope(x, e, &sensor_reading_res::values, xdr_sensor_reading_values_t);
}
bool_t xdr_sensor_data_res(XDR* x, sensor_data_res* e) {
    return body_envelope(x, e, &sensor_data_res::info, xdr_sensor_reading_info_t);
}
bool_t xdr_sensor_poll_info_res(XDR* x, sensor_poll_info_res* e) {
    return body_envelope(x, e, &sensor_poll_info_res::poll, xdr_sensor_poll_info_t);
}
bool_t xdr_norm_thresh_res(XDR* x, norm_thresh_res* e) {
    return body_envelope(x, e, &norm_thresh_res::thresholds, xdr_norm_thresh_info_t);
}
bool_t xdr_sensor_name_res(XDR* x, sensor_name_res* e) {
    return body_envelope(x, e, &sensor_name_res::strid, string);
}
bool_t xdr_fru_write_res(XDR* x, fru_write_res* e) {
    return body_envelope(x, e, &fru_write_res::write_result, xdr_int);
}
bool_t xdr_raw_to_norm_res(XDR* x, raw_to_norm_res* e) {
    return body_envelope(x, e, &raw_to_norm_res::normal_value, xdr_float);
}
bool_t xdr_norm_to_raw_res(XDR* x, norm_to_raw_res* e) {
    return body_envelope(x, e, &norm_to_raw_res::raw, xdr_u_char);
}
bool_t xdr_ind_get_res(XDR* x, ind_get_res* e) {
    return body_envelope(x, e, &ind_get_res::mode, xdr_u_char);
}

} // extern "C"
