#include "handlers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "procedure_names.h"
#include "daemon_status.h"
#include "wire/xdr_routine.h"

namespace velkd {

using enum velk::protocol::Status;
using velk::protocol::kProcedureCount;
using velk::protocol::procedure_name;

namespace {

// ---- handlers, one per procedure -------------------------------------------
// Each returns the status; the body is filled only when it returns 0. The
// wire records point into the platform, which outlives the reply.

struct NoArg {};

template <typename Record>
void answer_all(const std::vector<Record>& records, uint32_t& count, Record*& items) {
    count = static_cast<uint32_t>(records.size());
    items = const_cast<Record*>(records.data());
}

template <typename Record>
void answer_one(const std::vector<Record>& records, std::size_t index, uint32_t& count, Record*& items) {
    count = 1;
    items = const_cast<Record*>(&records[index]);
}

// The sensor procedures come in pairs, by string id and by logical number;
// each pair shares one body.
template <typename Key>
int sensor_attr(Call& call, Key key, sensor_attrs_res& res) {
    std::size_t i = 0;
    int status = call.sensor(key, i);
    if (status == 0) answer_one(call.platform.wire().sensors, i, res.count, res.items);
    return status;
}

template <typename Key>
int sensor_values(Call& call, Key key, sensor_reading_res& res) {
    std::size_t i = 0;
    int status = call.sensor(key, i);
    if (status == 0) res.values = call.platform.sensor_values(i);
    return status;
}

template <typename Key>
int sensor_data(Call& call, Key key, sensor_data_res& res) {
    std::size_t i = 0;
    int status = call.sensor(key, i);
    if (status == 0) res.info = call.platform.sensor_info(i);
    return status;
}

template <int Procedure, typename Arg, typename Res>
int handle(Call&, Arg&, Res&);

template <>
int handle<VELKD_GET_SENSOR_ATTR>(Call& call, char*& name, sensor_attrs_res& res) {
    return sensor_attr(call, std::string_view(name), res);
}

template <>
int handle<VELKD_GET_SENSOR_ATTR_BY_LOG_NUM>(Call& call, u_int& number, sensor_attrs_res& res) {
    return sensor_attr(call, static_cast<uint32_t>(number), res);
}

template <>
int handle<VELKD_GET_SENSOR_ATTRS>(Call& call, NoArg&, sensor_attrs_res& res) {
    answer_all(call.platform.wire().sensors, res.count, res.items);
    return kOk;
}

void add_indicator_record(Call& call, std::size_t i) {
    call.indicators.push_back(call.platform.indicator_record(i));
}

template <>
int handle<VELKD_GET_IND_ATTR>(Call& call, char*& name, indicator_attrs_res& res) {
    std::size_t i = 0;
    int status = call.indicator(name, i);
    if (status != 0) return status;
    add_indicator_record(call, i);
    answer_one(call.indicators, 0, res.count, res.items);
    return kOk;
}

template <>
int handle<VELKD_GET_IND_ATTRS>(Call& call, NoArg&, indicator_attrs_res& res) {
    for (std::size_t i = 0; i < call.platform.wire().indicators.size(); ++i) add_indicator_record(call, i);
    answer_all(call.indicators, res.count, res.items);
    return kOk;
}

template <>
int handle<VELKD_GET_FRU_ATTR>(Call& call, char*& name, fru_attrs_res& res) {
    std::size_t i = 0;
    int status = call.fru(name, i);
    if (status == 0) answer_one(call.platform.wire().frus, i, res.count, res.items);
    return status;
}

template <>
int handle<VELKD_GET_FRU_ATTRS>(Call& call, NoArg&, fru_attrs_res& res) {
    answer_all(call.platform.wire().frus, res.count, res.items);
    return kOk;
}

template <>
int handle<VELKD_GET_PLATFORM_NAMES>(Call& call, NoArg&, get_plat_names_res& res) {
    res.names = call.platform.wire().names;
    return kOk;
}

template <>
int handle<VELKD_GET_SENS_VAL>(Call& call, char*& name, sensor_reading_res& res) {
    return sensor_values(call, std::string_view(name), res);
}

template <>
int handle<VELKD_GET_SENS_DATA>(Call& call, char*& name, sensor_data_res& res) {
    return sensor_data(call, std::string_view(name), res);
}

template <>
int handle<VELKD_GET_SENS_DATA_BY_LOG_NUM>(Call& call, u_int& number, sensor_data_res& res) {
    return sensor_data(call, static_cast<uint32_t>(number), res);
}

template <>
int handle<VELKD_GET_SENS_VAL_BY_LOG_NUM>(Call& call, u_int& number, sensor_reading_res& res) {
    return sensor_values(call, static_cast<uint32_t>(number), res);
}

template <>
int handle<VELKD_SET_THRESHOLD_VALS>(Call& call, pollctrl_thresh_t& settings, int&) {
    std::size_t i = 0;
    int status = call.sensor(settings.sensor_num, i);
    return status ? status : call.platform.set_thresholds(i, settings);
}

template <>
int handle<VELKD_SET_SENSOR_READING>(Call& call, set_sen_reading_t& arg, int&) {
    std::size_t i = 0;
    int status = call.sensor(arg.sensor_num, i);
    return status ? status : call.platform.set_reading(i, arg.reading);
}

template <>
int handle<VELKD_GET_NORM_THRESHOLD>(Call& call, int& number, norm_thresh_res& res) {
    std::size_t i = 0;
    int status = number < 0 ? kUnknownObject : call.sensor(static_cast<uint32_t>(number), i);
    if (status != 0) return status;
    Thresholds t = call.platform.thresholds(i);
    res.thresholds = norm_thresh_info_t{t[0], t[1], t[2], t[3], t[4], t[5]};
    return kOk;
}

template <>
int handle<VELKD_ENABLE_SENSOR_POLL>(Call& call, sensor_poll_info_t& arg, sensor_poll_info_res& res) {
    std::size_t i = 0;
    int status = call.sensor(arg.sensor_num, i);
    res.poll.sensor_num = arg.sensor_num;
    return status ? status : call.platform.enable_polling(i, res.poll);
}

template <>
int handle<VELKD_DISABLE_SENSOR_POLL>(Call& call, sensor_poll_info_t& arg, sensor_poll_info_res& res) {
    std::size_t i = 0;
    int status = call.sensor(arg.sensor_num, i);
    res.poll.sensor_num = arg.sensor_num;
    return status ? status : call.platform.disable_polling(i, arg.poll_short, res.poll);
}

template <>
int handle<VELKD_SET_POLL_STATE>(Call& call, u_char& state, int&) {
    return call.platform.set_poll_state(state);
}

template <>
int handle<VELKD_RESET_ALL_SENSORS>(Call& call, NoArg&, int&) {
    call.platform.reset_sensors();
    return kOk;
}

template <>
int handle<VELKD_LOGNUM_TO_STRID>(Call& call, int& number, sensor_name_res& res) {
    std::size_t i = 0;
    int status = number < 0 ? kUnknownObject : call.sensor(static_cast<uint32_t>(number), i);
    if (status == 0) res.strid = const_cast<char*>(call.platform.description().sensors[i].id.c_str());
    return status;
}

template <>
int handle<VELKD_READ_FRU_DIRECT>(Call& call, fru_direct_read_t& arg, fru_read_res& res) {
    std::size_t i = 0;
    int status = call.fru(arg.fru, i);
    if (status == 0) status = call.platform.read_fru(i, arg.offset, arg.length, call.bytes);
    if (status == 0) {
        res.count = static_cast<uint32_t>(call.bytes.size());
        res.items = call.bytes.data();
    }
    return status;
}

template <>
int handle<VELKD_WRITE_FRU_DIRECT>(Call& call, fru_direct_write_t& arg, fru_write_res& res) {
    std::size_t i = 0;
    int status = call.fru(arg.fru, i);
    if (status == 0) status = call.platform.write_fru(i, arg.offset, arg.size, arg.data_bytes, arg.data_count);
    if (status == 0) res.write_result = static_cast<int>(arg.size);
    return status;
}

template <>
int handle<VELKD_GET_ENTITY_ASSOC>(Call& call, velkfe_mem_node& key, entity_assoc_res& res) {
    auto found = call.platform.find_association(EntityKey{key.key0, key.key1});
    if (!found) return kUnknownObject;
    answer_one(call.platform.wire().associations, *found, res.count, res.items);
    return kOk;
}

template <>
int handle<VELKD_GET_ENTITY_ASSOCS>(Call& call, NoArg&, entity_assoc_res& res) {
    answer_all(call.platform.wire().associations, res.count, res.items);
    return kOk;
}

template <>
int handle<VELKD_RAW_TO_NORM>(Call& call, raw_to_norm_t& arg, raw_to_norm_res& res) {
    std::size_t i = 0;
    int status = call.sensor(arg.sensor, i);
    if (status == 0) res.normal_value = call.platform.description().sensors[i].conversion.to_normal(arg.raw);
    return status;
}

template <>
int handle<VELKD_NORM_TO_RAW>(Call& call, norm_to_raw_t& arg, norm_to_raw_res& res) {
    std::size_t i = 0;
    int status = call.sensor(arg.sensor, i);
    if (status != 0) return status;
    if (std::isnan(arg.normal_value)) return kInvalidValue;
    res.raw = call.platform.description().sensors[i].conversion.to_raw(arg.normal_value);
    return kOk;
}

template <>
int handle<VELKD_GET_INDICATOR_MODE>(Call& call, char*& name, ind_get_res& res) {
    std::size_t i = 0;
    int status = call.indicator(name, i);
    if (status == 0) res.mode = call.platform.indicator_mode(i);
    return status;
}

template <>
int handle<VELKD_SET_INDICATOR_MODE>(Call& call, ind_data& arg, int&) {
    std::size_t i = 0;
    int status = call.indicator(arg.indicator, i);
    return status ? status : call.platform.set_indicator_mode(i, arg.mode, arg.duration);
}

template <>
int handle<VELKD_GET_COMP_ATTRS>(Call& call, NoArg&, comp_attrs_res& res) {
    answer_all(call.platform.wire().components, res.count, res.items);
    return kOk;
}

// ---- the generic part of every procedure ------------------------------------

// Names are looked up, never stored; none is longer than a description's
// strings may be.
constexpr u_int kMaxNameLength = kMaxStringBytes;

bool_t bounded_name(XDR* xdrs, char** name) { return xdr_string(xdrs, name, kMaxNameLength); }

// The largest legal value of each argument: every name at its longest, a
// FRU write of the largest data area. Arguments of numbers only are as
// large as any of their values.
struct Largest {
    std::string name = std::string(kMaxNameLength, 'n');
    std::vector<uint8_t> data = std::vector<uint8_t>(kMaxFruData);
};
template <typename Numbers>
void fill_largest(Numbers&, Largest&) {}
void fill_largest(char*& name, Largest& l) { name = l.name.data(); }
void fill_largest(raw_to_norm_t& a, Largest& l) { a.sensor = l.name.data(); }
void fill_largest(norm_to_raw_t& a, Largest& l) { a.sensor = l.name.data(); }
void fill_largest(fru_direct_read_t& a, Largest& l) { a.fru = l.name.data(); }
void fill_largest(ind_data& a, Largest& l) { a.indicator = l.name.data(); }
void fill_largest(fru_direct_write_t& a, Largest& l) {
    a.fru = l.name.data();
    a.data_count = static_cast<uint32_t>(l.data.size());
    a.data_bytes = l.data.data();
}

// Measured by the argument's own XDR routine, so that it follows the wire
// types. An argument with a string that fill_largest does not know fails to
// encode, and the daemon stops at once rather than refuse its calls.
template <typename Arg>
std::size_t largest_argument_bytes(xdrproc_t routine) {
    if constexpr (std::is_same_v<Arg, NoArg>) {
        return 0;
    } else {
        Largest largest;
        Arg arg{};
        fill_largest(arg, largest);
        u_long size = xdr_sizeof(routine, &arg);
        if (size == 0) throw std::logic_error("an argument whose largest value is not known");
        return size;
    }
}

template <typename Arg>
using ArgOf = std::conditional_t<std::is_void_v<Arg>, NoArg, Arg>;

template <typename Arg>
xdrproc_t argument_routine(xdrproc_t routine) {
    if constexpr (std::is_same_v<Arg, char*>) return vdfe::wire::xdr_routine(bounded_name);
    return routine;
}

int& status_field(int& result) { return result; }
template <typename Res>
int& status_field(Res& result) { return result.status; }

template <int Procedure, typename Arg, typename Res, auto ArgXdr, auto ResXdr>
bool serve(Call& call, CallIo& io) {
    const xdrproc_t arg_routine = argument_routine<Arg>(vdfe::wire::xdr_routine(ArgXdr));
    const xdrproc_t res_routine = vdfe::wire::xdr_routine(ResXdr);
    Arg arg{};
    if (!io.decode_args(arg_routine, &arg)) {
        io.free_args(arg_routine, &arg);
        call.status = -1;
        return io.reply_error(GARBAGE_ARGS);
    }
    Res res{};
    int status = call.platform.faults().for_call(Procedure).apply();
    if (status == 0) status = handle<Procedure>(call, arg, res);
    status_field(res) = status;
    call.status = status;
    bool sent = io.reply(res_routine, &res);
    io.free_args(arg_routine, &arg);
    return sent;
}

const std::array<ProcedureEntry, kProcedureCount + 1> kTable = [] {
    std::array<ProcedureEntry, kProcedureCount + 1> table{};
#define VELKD_PROCEDURE(number, enumerator, stub, Arg, arg_xdr, Res, res_xdr) \
    table[number] = {procedure_name(number), &serve<enumerator, ArgOf<Arg>, Res, &arg_xdr, &res_xdr>, \
                     largest_argument_bytes<ArgOf<Arg>>(argument_routine<ArgOf<Arg>>(vdfe::wire::xdr_routine(arg_xdr)))};
#include "procedures.def"
#undef VELKD_PROCEDURE
    return table;
}();

} // namespace

const ProcedureEntry* find_procedure(rpcproc_t number) {
    if (number == 0 || number > static_cast<rpcproc_t>(kProcedureCount)) return nullptr;
    return &kTable[number];
}

} // namespace velkd
