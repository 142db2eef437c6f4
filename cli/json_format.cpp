#include "json_format.h"

#include <cmath>
#include <string>

#include "codes.h"
#include "sensor_state.h"
#include "text_format.h"

namespace velk::cli {
namespace {

// A float as the double with the same shortest decimal text, so that 2.97f
// reads 2.97 rather than 2.9700000286102295. NaN and infinities become null.
Json number(float value) {
    if (!std::isfinite(value)) return nullptr;
    return std::stod(format_number(value));
}

Json thresholds_json(const Thresholds& thresholds) {
    Json out = Json::object();
    for (std::size_t i = 0; i < thresholds.size(); ++i) out[kThresholdNames[i]] = number(thresholds[i]);
    return out;
}

Json key_json(const EntityKey& key) { return Json::array({key.key0, key.key1}); }

// A name beside its raw value, or null where nothing defines one.
Json name_json(std::optional<std::string_view> name) { return name ? Json(std::string(*name)) : Json(nullptr); }

void add_info(Json& out, const ObjectInfo& info) {
    out["path"] = info.path;
    out["kind"] = info.kind;
    out["kind_name"] = name_json(kind_name(info.kind));
    out["desc"] = info.desc;
    out["properties"] = to_json(info.properties);
}

} // namespace

Json to_json(const Properties& properties) {
    Json out = Json::object();
    for (const auto& [name, value] : properties)
        if (!out.contains(name)) out[name] = value;
    return out;
}

Json to_json(const SensorRow& row) {
    const SensorDesc& s = row.sensor;
    const SensorReading& r = row.reading;
    const std::string& error = row.error;
    Json out = {{"id", s.id}, {"number", s.number}};
    add_info(out, s);
    out["note"] = s.note;
    if (!error.empty()) {
        out["error"] = error; // no reading to report
        out["status"] = row.status;
        return out;
    }
    out["type"] = r.type;
    out["type_name"] = name_json(sensor_type_name(r.type));
    out["reading"] = r.reading;
    out["value"] = number(r.value);
    if (auto unit = find_property(s.properties, "unit")) out["unit"] = *unit;
    Json crossed = Json::array();
    for (std::string_view name : crossed_thresholds(r.threshold_state)) crossed.push_back(std::string(name));
    out["crossed"] = crossed;
    out["state"] = state_word(worst_state(r.threshold_state));
    out["thresholds"] = thresholds_json(r.thresholds);
    out["hysteresis"] = {{"positive", r.hysteresis_positive}, {"negative", r.hysteresis_negative}};
    out["conversion"] = {{"m", number(s.conversion.m)}, {"b", number(s.conversion.b)}};
    out["polling"] = {
        {"enabled", r.polled()}, {"interval_ms", r.poll_interval_ms}, {"daemon_wide", r.daemon_polling()}};
    out["overridden"] = r.overridden();
    return out;
}

Json sensor_details_json(const SensorDesc& sensor, const SensorReading& reading, const Thresholds& normalized) {
    Json out = to_json(SensorRow{sensor, reading, {}});
    out["normalized_thresholds"] = thresholds_json(normalized);
    return out;
}

Json to_json(const IndicatorRow& row) {
    Json out = {{"name", row.indicator.name}};
    add_info(out, row.indicator);
    out["mode"] = row.mode;
    out["mode_name"] = mode_name(row.mode);
    out["modes"] = row.indicator.modes;
    if (const auto& timed = row.indicator.timed)
        out["timed"] = {{"returns_to", timed->lasting_mode}, {"seconds_left", timed->seconds_left}};
    return out;
}

Json to_json(const FruDesc& fru) {
    Json out = {{"name", fru.name}};
    add_info(out, fru);
    out["size"] = fru.size;
    out["writable"] = fru.writable;
    return out;
}

Json to_json(const ComponentDesc& component) {
    Json out = Json::object();
    add_info(out, component);
    return out;
}

Json to_json(const AssociationDesc& a) {
    Json members = Json::array();
    for (const EntityKey& m : a.members) members.push_back(key_json(m));
    return {{"entity", key_json(a.entity)},
            {"entity_name", name_json(entity_name(a.entity.key0))},
            {"word", a.word},
            {"members", members}};
}

Json to_json(const PlatformNames& names) {
    return {{"name", names.name}, {"model", names.model}, {"lead_byte", names.lead_byte}};
}

Json to_json(const TreeNode& node) {
    Json out = Json::object();
    add_info(out, node);
    Json children = Json::array();
    for (const auto& child : node.children) children.push_back(to_json(*child));
    out["children"] = children;
    return out;
}

} // namespace velk::cli
