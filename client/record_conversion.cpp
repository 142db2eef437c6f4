#include "record_conversion.h"

#include <algorithm>

#include "record_bytes.h"
#include "sensor_bits.h"

namespace velk::client {
namespace {

template <typename Record>
void fill_info(ObjectInfo& info, const Record& record) {
    info.path = text(record.path);
    info.kind = record.kind;
    std::copy(std::begin(record.desc), std::end(record.desc), info.desc.begin());
    info.properties = properties(record.props);
}

} // namespace

std::string text(const char* s) { return s == nullptr ? std::string() : std::string(s); }

std::string quoted(std::string_view what, const std::string& name) { return fmt::format("{} \"{}\"", what, name); }

Properties properties(const velkdirectfe_nvlist_t* list) {
    Properties out;
    for (; list != nullptr; list = list->next) out.emplace_back(text(list->name), text(list->value));
    return out;
}

SensorDesc to_sensor(const velkdirectfe_sensor_attr_t& r) {
    SensorDesc s;
    fill_info(s, r);
    s.id = text(r.aux_str);
    s.note = text(r.opt_str);
    velkd::record_bytes::get(r, s);
    return s;
}

SensorReading to_reading(const velkdirectfe_sensor_data_t& d) {
    SensorReading r;
    r.reading = d.reading;
    r.value = d.normal_value;
    r.threshold_state = static_cast<uint8_t>(d.byte1);
    r.flags = static_cast<uint8_t>(d.byte2);
    r.type = static_cast<uint8_t>(d.byte3);
    r.hysteresis_positive = velk::protocol::hysteresis_positive(d.word1);
    r.hysteresis_negative = velk::protocol::hysteresis_negative(d.word1);
    r.poll_interval_ms = d.word2;
    std::copy(std::begin(d.thresholds), std::end(d.thresholds), r.thresholds.begin());
    return r;
}

Indicator to_indicator(const velkdirectfe_ind_attr_t& r) {
    Indicator ind;
    fill_info(ind, r);
    ind.name = text(r.aux_str);
    velkd::record_bytes::get(r, static_cast<velkd::IndicatorDesc&>(ind));
    velkd::record_bytes::TimedModeBytes timed;
    velkd::record_bytes::get(r, timed);
    if (timed.running == velkd::record_bytes::kTimedModeRuns)
        ind.timed = TimedMode{timed.lasting_mode, timed.seconds_left};
    return ind;
}

FruDesc to_fru(const velkdirectfe_fru_attr_t& r) {
    FruDesc fru;
    fill_info(fru, r);
    fru.name = text(r.aux_str);
    velkd::record_bytes::get(r, fru);
    return fru;
}

ComponentDesc to_component(const velkdirectfe_comp_attr_t& r) {
    ComponentDesc c;
    fill_info(c, r);
    return c;
}

AssociationDesc to_association(const velkdirectfe_entity_assoc_t& r) {
    // The library widens each key byte; narrowing gives it back.
    auto key = [](auto key0, auto key1) { return EntityKey{static_cast<uint8_t>(key0), static_cast<uint8_t>(key1)}; };
    AssociationDesc a{key(r.key0, r.key1), r.assoc_word, {}};
    if (r.members != nullptr)
        for (uint32_t i = 0; i < r.member_count; ++i) a.members.push_back(key(r.members[i].key0, r.members[i].key1));
    return a;
}

} // namespace velk::client
