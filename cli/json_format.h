// JSON for scripts: one document per command, built with nlohmann-json, keys
// in a fixed order so that output diffs cleanly.
#pragma once

#include <nlohmann/json.hpp>

#include "objects.h"

namespace velk::cli {

using namespace velk::client;

using Json = nlohmann::ordered_json;

Json to_json(const Properties& properties); // an object; a repeated name keeps its first value
Json to_json(const SensorRow& row);
Json sensor_details_json(const SensorDesc& sensor, const SensorReading& reading, const Thresholds& normalized);
Json to_json(const IndicatorRow& row);
Json to_json(const FruDesc& fru);
Json to_json(const ComponentDesc& component);
Json to_json(const AssociationDesc& association);
Json to_json(const PlatformNames& names);
Json to_json(const TreeNode& node); // nested through "children"

// An array of the JSON of each item.
template <typename T>
Json json_array(const std::vector<T>& items) {
    Json out = Json::array();
    for (const T& item : items) out.push_back(to_json(item));
    return out;
}

} // namespace velk::cli
