// The context a procedure handler runs in: the platform it answers from,
// what it looked up (for the log), and storage that must live until the
// reply is encoded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

namespace velkd {

struct Call {
    Platform& platform;
    int procedure;
    std::string_view subject; // the object named by the call, if any
    int status = 0;
    std::vector<uint8_t> bytes; // FRU data answered by the call
    std::vector<velkfe_ind_attr> indicators; // indicator records with their running state

    // Lookups by name, path or number. Each returns 0 and the object's index,
    // or a status: unknown object, or a fault attached to the object (whose
    // delay has then passed).
    int sensor(std::string_view name, std::size_t& index);
    int sensor(uint32_t number, std::size_t& index);
    int indicator(std::string_view name, std::size_t& index);
    int fru(std::string_view name, std::size_t& index);

private:
    int admit(std::optional<std::size_t> found, const std::string& name, const std::string& path,
              std::size_t& index);
};

} // namespace velkd
