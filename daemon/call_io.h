// One RPC call as the procedure table sees it: decode the argument, encode
// the reply. The connection decodes from the call's record in memory and
// encodes the reply, record-marked, into the connection's output.
#pragma once

#include <rpc/rpc.h>

#include <vector>

namespace velkd {

class CallIo {
public:
    // `args` decodes from `record`, the call's bytes in memory.
    CallIo(XDR* args, const char* record, const rpc_msg& call, std::vector<char>& out)
        : args_(args), record_(record), call_(call), out_(out) {}

    // False when the argument does not decode, or does not encode back to
    // the same bytes: a value outside its field's range (a byte of 0x1FF, a
    // boolean of 2), a string with a NUL inside, non-zero padding.
    bool decode_args(xdrproc_t routine, void* args);
    void free_args(xdrproc_t routine, void* args);
    // An accepted reply: SUCCESS with the result. Each returns false when
    // the reply cannot be encoded.
    bool reply(xdrproc_t routine, void* result);
    // An accepted reply without result: GARBAGE_ARGS, PROC_UNAVAIL, ...
    bool reply_error(accept_stat status);
    // PROG_MISMATCH: this daemon serves version 1 only.
    bool reply_mismatch();
    // A denied reply, RPC_MISMATCH: this daemon speaks RPC version 2 only.
    bool reply_rpc_mismatch();

private:
    bool send(rpc_msg& reply);

    XDR* args_;
    const char* record_;
    const rpc_msg& call_;
    std::vector<char>& out_;
};

} // namespace velkd
