// Keeps FRU data areas that clients wrote in a state directory, one file per
// FRU, replaced atomically and durably (write and sync a temporary file,
// rename it over the old one, sync the directory).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velkd {

class FruStore {
public:
    // Creates the directory (mode 0700) if it is missing and removes
    // temporary files that interrupted writes left behind. Throws
    // std::runtime_error when it cannot be used, or when another user owns it
    // or others can write to it: whoever could replace its files could feed
    // the daemon any FRU data.
    explicit FruStore(std::filesystem::path dir);
    ~FruStore();
    FruStore(const FruStore&) = delete;
    FruStore& operator=(const FruStore&) = delete;

    // The saved data area of the FRU, if a regular file of exactly `size`
    // bytes holds it. Anything else in its place (a symbolic link, a FIFO, a
    // file of another size) is ignored with a warning.
    std::optional<std::vector<uint8_t>> load(const std::string& fru_name, std::size_t size) const;
    // Returns false (and leaves the old file) when the data cannot be saved.
    bool save(const std::string& fru_name, const std::vector<uint8_t>& data) const;

    std::filesystem::path file_for(const std::string& fru_name) const;

private:
    void remove_leftovers() const;

    std::filesystem::path dir_;
    int dir_fd_ = -1;
};

} // namespace velkd
