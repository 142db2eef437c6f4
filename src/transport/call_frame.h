// The call frame that every public function runs: connect, zero the result
// storage, issue one procedure, read the status, copy the body out when it is
// 0, release the decoded answer and close the connection on every path.
//
// Every path includes a thread cancelled while it waits (connecting, pausing
// between attempts, sending, awaiting the reply): glibc then unwinds the
// thread's stack (abi::__forced_unwind), and the unwinding passes through
// here, where nothing is noexcept, releasing the answer and the client on its
// way. Nothing in the frame throws, so no exception leaves it otherwise.
//
// A public function states only its argument and what it copies out:
//
//   return call(procedures::get_sens_val, &name, [&](const sensor_reading_res& r) {
//       *reading = r.values.reading;
//       return 0;
//   });
#pragma once

#include <utility>

#include "call_client.h"
#include "call_limits.h"
#include "connection.h"
#include "velkdirectfe_wire.h"
#include "procedure_table.h"
#include "wire/xdr_routine.h"

namespace vdfe {

// One row of the procedure table: its stub and the routine that frees its
// decoded result.
template <typename Arg, typename Res>
struct Procedure {
    enum clnt_stat (*stub)(Arg*, Res*, CLIENT*);
    xdrproc_t result_xdr;
};

namespace procedures {
#define VELKD_PROCEDURE(number, enumerator, stub_name, Arg, arg_xdr, Res, res_xdr) \
    inline const Procedure<Arg, Res> stub_name{::stub_name, wire::xdr_routine(res_xdr)};
#include "procedures.def"
#undef VELKD_PROCEDURE
} // namespace procedures

// Result storage zeroed before the call and released through the client
// afterwards. It is released even when the call failed: a reply that stopped
// decoding half-way may already own strings.
template <typename Res>
class DecodedAnswer {
public:
    DecodedAnswer(CLIENT* client, xdrproc_t routine) noexcept : client_(client), routine_(routine) {}
    ~DecodedAnswer() { clnt_freeres(client_, routine_, reinterpret_cast<char*>(&value)); }
    DecodedAnswer(const DecodedAnswer&) = delete;
    DecodedAnswer& operator=(const DecodedAnswer&) = delete;

    Res value{};

private:
    CLIENT* client_;
    xdrproc_t routine_;
};

template <typename Res>
int status_of(const Res& answer) { return answer.status; }
inline int status_of(const int& answer) { return answer; }

// Runs one procedure. copy_out sees the answer only when its status is 0 and
// returns 0, or -1 when it could not copy (it then leaves nothing allocated).
template <typename Arg, typename Res, typename CopyOut>
int call(const Procedure<Arg, Res>& procedure, Arg* argument, CopyOut&& copy_out) {
    timespec deadline = deadline_after(kCallSeconds);
    CallClient client(connect_with_retry(deadline), VELKD_PROG, VELKD_VERS, deadline);
    if (!client) return -1;
    DecodedAnswer<Res> answer(client.handle(), procedure.result_xdr);
    if (procedure.stub(argument, &answer.value, client.handle()) != RPC_SUCCESS) return -1;
    int status = status_of(answer.value);
    if (status != 0) return status;
    return copy_out(std::as_const(answer.value));
}

// A procedure whose answer is only its status.
template <typename Arg, typename Res>
int call(const Procedure<Arg, Res>& procedure, Arg* argument) {
    return call(procedure, argument, [](const Res&) { return 0; });
}

} // namespace vdfe
