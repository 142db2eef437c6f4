// The exported client stubs, one clnt_call each, generated from the
// procedure table.
#include "transport/call_limits.h"
#include "velkdirectfe_wire.h"
#include "procedure_table.h"
#include "wire/xdr_routine.h"

using vdfe::wire::xdr_routine;

namespace {

// How long a call may take. The library's own client counts it from the
// start of the call, send and reply together; another CLIENT counts it as
// its transport does.
constexpr timeval kCallTimeout{vdfe::kCallSeconds, 0};

template <typename Arg, typename Res>
enum clnt_stat issue(CLIENT* clnt, u_long number, xdrproc_t arg_xdr, Arg* argp, xdrproc_t res_xdr, Res* res) {
    return clnt_call(clnt, number, arg_xdr, reinterpret_cast<char*>(argp), res_xdr,
                     reinterpret_cast<char*>(res), kCallTimeout);
}

} // namespace

extern "C" {

#define VELKD_PROCEDURE(number, enumerator, stub, Arg, arg_xdr, Res, res_xdr)                 \
    enum clnt_stat stub(Arg* argp, Res* res, CLIENT* clnt) {                                   \
        return issue(clnt, enumerator, xdr_routine(arg_xdr), argp, xdr_routine(res_xdr), res); \
    }
#include "procedures.def"
#undef VELKD_PROCEDURE

} // extern "C"
