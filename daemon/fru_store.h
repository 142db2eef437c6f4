// Keeps FRU data areas that clients wrote in a state directory, one file per
// FRU, replaced atomically (write a temporary file, then rename it).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velkd {

class FruStore {
public:
    // Creates the directory if it is missing; throws std::runtime_error when
    // it cannot.
    explicit FruStore(std::filesystem::path dir);

    // The saved data area of the FRU, if any.
    std::optional<std::vector<uint8_t>> load(const std::string& fru_name) const;
    // Returns false (and leaves the old file) when the data cannot be saved.
    bool save(const std::string& fru_name, const std::vector<uint8_t>& data) const;

    std::filesystem::path file_for(const std::string& fru_name) const;

private:
    std::filesystem::path dir_;
};

} // namespace velkd
