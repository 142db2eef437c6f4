// The procedure table (procedures.def, made from protocol.toml) checked
// against the public wire header when compiling: every row's number is its
// enumerator, every stub is declared with the row's argument and result
// types, and the program, version and socket path agree.
#pragma once

#include <string_view>
#include <type_traits>

#include "protocol_tables.h"
#include "velkdirectfe_wire.h"

namespace velk::protocol {

static_assert(kProgram == VELKD_PROG && kVersion == VELKD_VERS);
static_assert(std::string_view(kSocketPath) == VELKD_SOCKET_PATH);

#define VELKD_PROCEDURE(number, enumerator, stub, Arg, arg_xdr, Res, res_xdr)                     \
    static_assert((number) == (enumerator), "procedure " #number " is not " #enumerator);         \
    static_assert(std::is_same_v<decltype(&stub), enum clnt_stat (*)(Arg*, Res*, CLIENT*)>, \
                  #stub " is not declared as the table says");
#include "procedures.def"
#undef VELKD_PROCEDURE

} // namespace velk::protocol
