// FRU-direct requests and the indicator mode request.
#include "bounded_xdr.h"
#include "velkdirectfe_wire.h"

using namespace vdfe::wire;

extern "C" {

bool_t xdr_fru_direct_read_t(XDR* xdrs, fru_direct_read_t* req) {
    return string(xdrs, &req->fru) && xdr_u_int(xdrs, &req->offset) &&
           xdr_u_int(xdrs, &req->length);
}

bool_t xdr_fru_direct_write_t(XDR* xdrs, fru_direct_write_t* req) {
    return string(xdrs, &req->fru) && xdr_u_int(xdrs, &req->offset) &&
           xdr_u_int(xdrs, &req->size) &&
           counted_array(xdrs, &req->data_bytes, &req->data_count, byte);
}

bool_t xdr_ind_data(XDR* xdrs, ind_data* req) {
    return string(xdrs, &req->indicator) && xdr_u_char(xdrs, &req->mode) &&
           xdr_u_int(xdrs, &req->duration);
}

} // extern "C"
