// One RPC call as the procedure table sees it: decode the argument, send the
// reply. The connection server implements it on its record stream.
#pragma once

#include <rpc/rpc.h>

namespace velkd {

class CallIo {
public:
    CallIo(XDR* stream, const rpc_msg& call) : stream_(stream), call_(call) {}

    bool decode_args(xdrproc_t routine, void* args);
    void free_args(xdrproc_t routine, void* args);
    // An accepted reply: SUCCESS with the result.
    bool reply(xdrproc_t routine, void* result);
    // An accepted reply without result: GARBAGE_ARGS, PROC_UNAVAIL, ...
    bool reply_error(accept_stat status);
    // PROG_MISMATCH: this daemon serves version 1 only.
    bool reply_mismatch();

private:
    bool send(rpc_msg& reply);

    XDR* stream_;
    const rpc_msg& call_;
};

} // namespace velkd
