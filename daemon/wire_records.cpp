#include "wire_records.h"

#include <algorithm>
#include <cstring>

#include "record_bytes.h"
#include "wire/block_layout.h"

namespace velkd {
namespace {

char* text(const std::string& s) { return const_cast<char*>(s.c_str()); }

// One attribute record of any kind: the fields every object has, velkd-sim's
// own bytes where record_bytes.h puts them, laid out as the kind's wire block,
// then the strings. The strings and properties stay the description's.
template <typename Public, typename Desc>
void add_record(std::vector<typename vdfe::wire::AttrKind<Public>::Wire>& records, const Desc& d,
                std::vector<prop_node>& props) {
    Public record{};
    record.kind = d.kind;
    std::memcpy(record.desc, d.desc.data(), d.desc.size());
    if constexpr (requires { record_bytes::put(record, d); }) record_bytes::put(record, d);
    auto& wire = records.emplace_back();
    vdfe::wire::block_from_record(vdfe::wire::AttrKind<Public>::layout, &record, wire.block);
    wire.path = text(d.path);
    if constexpr (requires { wire.aux_str; }) wire.aux_str = text(name_of(d));
    if constexpr (requires { wire.opt_str; }) wire.opt_str = text(d.note);
    wire.prop_count = static_cast<uint32_t>(props.size());
    wire.props = props.data();
}

} // namespace

WireRecords build_wire_records(const Description& d) {
    WireRecords wire;
    // Property arrays first: the records point into them.
    auto props_of = [&](const ObjectInfo& info) {
        std::vector<prop_node> nodes;
        for (const auto& [name, value] : info.properties) nodes.push_back(prop_node{text(name), text(value)});
        return &wire.properties.emplace_back(std::move(nodes));
    };
    wire.properties.reserve(d.sensors.size() + d.indicators.size() + d.frus.size() + d.components.size());

    for (const SensorDesc& s : d.sensors) add_record<velkdirectfe_sensor_attr_t>(wire.sensors, s, *props_of(s));
    for (const IndicatorDesc& i : d.indicators) add_record<velkdirectfe_ind_attr_t>(wire.indicators, i, *props_of(i));
    for (const FruDesc& f : d.frus) add_record<velkdirectfe_fru_attr_t>(wire.frus, f, *props_of(f));
    for (const ComponentDesc& c : d.components) add_record<velkdirectfe_comp_attr_t>(wire.components, c, *props_of(c));
    wire.members.reserve(d.associations.size());
    for (const AssociationDesc& a : d.associations) {
        auto& nodes = wire.members.emplace_back();
        for (EntityKey m : a.members) nodes.push_back(velkfe_mem_node{m.key0, m.key1});
        auto count = static_cast<uint32_t>(nodes.size());
        wire.associations.push_back(velkfe_assoc_t{a.entity.key0, a.entity.key1, a.word, count, count, nodes.data()});
    }
    wire.names = velkfe_plat_names_t{d.names.lead_byte, text(d.names.name), text(d.names.model)};
    return wire;
}

velkfe_ind_attr with_timed_mode(velkfe_ind_attr record, uint8_t lasting_mode, std::chrono::milliseconds left) {
    auto seconds = std::min<int64_t>((left.count() + 999) / 1000, 0xFFFF);
    velkdirectfe_ind_attr_t fields{};
    const auto& layout = vdfe::wire::AttrKind<velkdirectfe_ind_attr_t>::layout;
    vdfe::wire::record_from_block(layout, record.block, &fields);
    record_bytes::put(fields, record_bytes::TimedModeBytes{record_bytes::kTimedModeRuns, lasting_mode,
                                                           static_cast<uint16_t>(seconds)});
    vdfe::wire::block_from_record(layout, &fields, record.block);
    return record;
}

} // namespace velkd
