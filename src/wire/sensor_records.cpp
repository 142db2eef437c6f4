// Sensor reading, threshold, polling and conversion records.
#include "bounded_xdr.h"
#include "velkdirectfe_wire.h"

using namespace vdfe::wire;

extern "C" {

bool_t xdr_norm_thresh_info_t(XDR* xdrs, norm_thresh_info_t* t) {
    return xdr_float(xdrs, &t->thresh1) && xdr_float(xdrs, &t->thresh2) &&
           xdr_float(xdrs, &t->thresh3) && xdr_float(xdrs, &t->thresh4) &&
           xdr_float(xdrs, &t->thresh5) && xdr_float(xdrs, &t->thresh6);
}

bool_t xdr_sensor_reading_values_t(XDR* xdrs, sensor_reading_values_t* v) {
    return xdr_u_short(xdrs, &v->reading) && xdr_float(xdrs, &v->normal_value);
}

bool_t xdr_sensor_reading_info_t(XDR* xdrs, sensor_reading_info_t* info) {
    return xdr_u_short(xdrs, &info->reading) && xdr_float(xdrs, &info->normal_value) &&
           xdr_u_char(xdrs, &info->byte1) && xdr_u_char(xdrs, &info->byte2) &&
           xdr_u_char(xdrs, &info->byte3) && xdr_u_char(xdrs, &info->byte4) &&
           xdr_u_short(xdrs, &info->word1) && xdr_u_short(xdrs, &info->word2) &&
           xdr_norm_thresh_info_t(xdrs, &info->thresholds);
}

bool_t xdr_pollctrl_thresh_t(XDR* xdrs, pollctrl_thresh_t* t) {
    return xdr_u_int(xdrs, &t->sensor_num) && xdr_u_short(xdrs, &t->ctrl) &&
           xdr_u_char(xdrs, &t->val1) && xdr_u_char(xdrs, &t->val2) &&
           xdr_u_char(xdrs, &t->val3) && xdr_u_char(xdrs, &t->val4) &&
           xdr_u_char(xdrs, &t->val5) && xdr_u_char(xdrs, &t->val6) &&
           xdr_u_char(xdrs, &t->val7) && xdr_u_char(xdrs, &t->val8);
}

bool_t xdr_sensor_poll_info_t(XDR* xdrs, sensor_poll_info_t* p) {
    return xdr_u_int(xdrs, &p->sensor_num) && xdr_u_int(xdrs, &p->poll_word) &&
           xdr_u_short(xdrs, &p->poll_short);
}

bool_t xdr_set_sen_reading_t(XDR* xdrs, set_sen_reading_t* r) {
    return xdr_u_int(xdrs, &r->sensor_num) && xdr_u_short(xdrs, &r->reading);
}

bool_t xdr_raw_to_norm_t(XDR* xdrs, raw_to_norm_t* r) {
    return string(xdrs, &r->sensor) && xdr_u_char(xdrs, &r->raw);
}

bool_t xdr_norm_to_raw_t(XDR* xdrs, norm_to_raw_t* r) {
    return string(xdrs, &r->sensor) && xdr_float(xdrs, &r->normal_value);
}

} // extern "C"
