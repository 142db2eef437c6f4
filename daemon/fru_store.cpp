#include "fru_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace velkd {
namespace {

// Writes all of `data` and syncs it; false on any failure.
bool write_all(int fd, const std::vector<uint8_t>& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0;
}

} // namespace

FruStore::FruStore(std::filesystem::path dir) : dir_(std::move(dir)) {
    std::error_code error;
    std::filesystem::create_directories(dir_, error);
    if (error || !std::filesystem::is_directory(dir_))
        throw std::runtime_error(fmt::format("state directory {}: {}", dir_.string(),
                                             error ? error.message() : "not a directory"));
}

std::filesystem::path FruStore::file_for(const std::string& fru_name) const {
    std::string file = "fru-";
    for (unsigned char c : fru_name) {
        if (std::isalnum(c) || c == '.' || c == '_' || c == '-')
            file += static_cast<char>(c);
        else
            file += fmt::format("%{:02X}", c);
    }
    return dir_ / (file + ".bin");
}

std::optional<std::vector<uint8_t>> FruStore::load(const std::string& fru_name) const {
    std::ifstream in(file_for(fru_name), std::ios::binary);
    if (!in) return std::nullopt;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FruStore::save(const std::string& fru_name, const std::vector<uint8_t>& data) const {
    std::filesystem::path target = file_for(fru_name);
    std::string temp = (dir_ / fmt::format(".{}.XXXXXX", target.filename().string())).string();
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool written = write_all(fd, data);
    written = (::close(fd) == 0) && written;
    if (!written || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

} // namespace velkd
