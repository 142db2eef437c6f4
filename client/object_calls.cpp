// Calls about the platform's names, indicators, FRUs, components and associations.
#include <fmt/format.h>

#include <algorithm>

#include "calls.h"
#include "record_conversion.h"

namespace velk::client {

PlatformNames fetch_platform_names() {
    velkdirectfe_plat_names_t names{};
    check(velkdirectfe_get_platform_names(kHandle, &names), "platform names");
    HeapString name1(names.name1), name2(names.name2);
    return {text(name1.get()), text(name2.get()), names.lead_byte};
}

std::vector<Indicator> fetch_indicators() {
    return fetch_list<IndicatorRecords>(velkdirectfe_get_indicator_attrs, to_indicator, "indicator list");
}

Indicator fetch_indicator(const std::string& name) {
    return fetch_named<IndicatorRecords>(velkdirectfe_get_indicator_attr, name, to_indicator, "indicator");
}

int fetch_indicator_mode(const std::string& name) {
    int32_t mode = 0;
    check(velkdirectfe_get_indicator_mode(kHandle, name.c_str(), &mode), quoted("indicator", name));
    return mode;
}

std::vector<IndicatorRow> fetch_indicator_rows() {
    std::vector<IndicatorRow> rows;
    for (Indicator& indicator : fetch_indicators()) {
        int mode = fetch_indicator_mode(indicator.name);
        rows.push_back({std::move(indicator), mode});
    }
    return rows;
}

void set_indicator_mode(const std::string& name, uint8_t mode, uint32_t duration_ms) {
    int status = duration_ms == 0
                     ? velkdirectfe_set_indicator_mode(kHandle, name.c_str(), mode)
                     : velkdirectfe_set_indicator_mode_for_duration(kHandle, name.c_str(), mode, duration_ms);
    check(status, quoted("indicator", name));
}

std::vector<FruDesc> fetch_frus() { return fetch_list<FruRecords>(velkdirectfe_get_fru_attrs, to_fru, "FRU list"); }

FruDesc fetch_fru(const std::string& name) {
    return fetch_named<FruRecords>(velkdirectfe_get_fru_attr, name, to_fru, "FRU");
}

std::vector<uint8_t> read_fru(const std::string& name, uint32_t offset, uint32_t length) {
    // Large areas are read in pieces so that no single answer is large.
    constexpr uint32_t kPiece = 4096;
    std::vector<uint8_t> data;
    while (data.size() < length) {
        uint32_t want = std::min<uint32_t>(kPiece, length - static_cast<uint32_t>(data.size()));
        std::size_t at = data.size();
        data.resize(at + want);
        uint32_t got = 0;
        check(velkdirectfe_read_fru_direct(kHandle, name.c_str(), offset + static_cast<uint32_t>(at), want,
                                           data.data() + at, &got),
              quoted("FRU", name));
        data.resize(at + got);
        if (got < want) break; // the daemon has no more
    }
    return data;
}

int32_t write_fru(const std::string& name, uint32_t offset, const std::vector<uint8_t>& bytes) {
    int32_t result = 0;
    check(velkdirectfe_write_fru_direct(kHandle, name.c_str(), offset, static_cast<uint32_t>(bytes.size()),
                                        bytes.data(), &result),
          quoted("FRU", name));
    return result;
}

std::vector<ComponentDesc> fetch_components() {
    return fetch_list<ComponentRecords>(velkdirectfe_get_component_attrs, to_component, "component list");
}

std::vector<AssociationDesc> fetch_associations() {
    return fetch_list<AssociationRecords>(velkdirectfe_get_entity_associations, to_association, "association list");
}

AssociationDesc fetch_association(uint8_t key0, uint8_t key1) {
    AssociationRecords records;
    check(velkdirectfe_get_entity_association(kHandle, key0, key1, records.single_out()),
          fmt::format("association [{:#04x}, {:#04x}]", key0, key1));
    return to_association(records.view().front());
}

} // namespace velk::client
