// Lookups of the object a call names, with the faults attached to it.
#include "call.h"

#include "daemon_status.h"

namespace velkd {

using enum velk::protocol::Status;

int Call::admit(std::optional<std::size_t> found, const std::string& name, const std::string& path,
                std::size_t& index) {
    if (!found) return kUnknownObject;
    index = *found;
    subject = name;
    return platform.faults().for_object(procedure, name, path).apply();
}

int Call::sensor(std::string_view name, std::size_t& index) {
    auto found = platform.find_sensor(name);
    if (!found) subject = name;
    const auto& all = platform.description().sensors;
    return found ? admit(found, all[*found].id, all[*found].path, index) : kUnknownObject;
}

int Call::sensor(uint32_t number, std::size_t& index) {
    auto found = platform.find_sensor(number);
    const auto& all = platform.description().sensors;
    return found ? admit(found, all[*found].id, all[*found].path, index) : kUnknownObject;
}

int Call::indicator(std::string_view name, std::size_t& index) {
    auto found = platform.find_indicator(name);
    if (!found) subject = name;
    const auto& all = platform.description().indicators;
    return found ? admit(found, all[*found].name, all[*found].path, index) : kUnknownObject;
}

int Call::fru(std::string_view name, std::size_t& index) {
    auto found = platform.find_fru(name);
    if (!found) subject = name;
    const auto& all = platform.description().frus;
    return found ? admit(found, all[*found].name, all[*found].path, index) : kUnknownObject;
}

} // namespace velkd
