// The library's records as plain values (objects.h), and the two shapes of
// query every object kind has: a list of all, and one by name. Where
// velkd-sim's own bytes lie in a record's opaque runs comes from
// record_bytes.h, which velkd-sim writes them with.
#pragma once

#include <fmt/format.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "call_failure.h"
#include "objects.h"
#include "owners.h"

namespace velk::client {

// The handle every call passes; the library gives it no meaning.
inline constexpr int kHandle = 0;

std::string text(const char* s);
Properties properties(const velkdirectfe_nvlist_t* list);
// `what "name"`, the subject of a failed call.
std::string quoted(std::string_view what, const std::string& name);

SensorDesc to_sensor(const velkdirectfe_sensor_attr_t& record);
SensorReading to_reading(const velkdirectfe_sensor_data_t& data);
Indicator to_indicator(const velkdirectfe_ind_attr_t& record);
FruDesc to_fru(const velkdirectfe_fru_attr_t& record);
ComponentDesc to_component(const velkdirectfe_comp_attr_t& record);
AssociationDesc to_association(const velkdirectfe_entity_assoc_t& record);

// A list query: every record of one kind, converted to plain values.
template <typename RecordList, typename Record, typename Convert>
auto fetch_list(int (*query)(int, uint32_t*, Record**), Convert convert, std::string_view what) {
    RecordList records;
    check(query(kHandle, records.count_out(), records.items_out()), what);
    std::vector<decltype(convert(std::declval<const Record&>()))> out;
    for (const Record& record : records.view()) out.push_back(convert(record));
    return out;
}

// A single query by name: the one record, converted.
template <typename RecordList, typename Record, typename Convert>
auto fetch_named(int (*query)(int, const char*, Record**), const std::string& name, Convert convert,
                 std::string_view what) {
    RecordList records;
    check(query(kHandle, name.c_str(), records.single_out()), quoted(what, name));
    return convert(records.view().front());
}

} // namespace velk::client
