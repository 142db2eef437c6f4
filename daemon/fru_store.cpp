#include "fru_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "log.h"

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

// Temporary files are ".fru-NAME.bin.XXXXXX" (see save()).
bool is_leftover(std::string_view name) {
    return name.starts_with(".fru-") && name.find(".bin.") != std::string_view::npos;
}

[[noreturn]] void refuse(const std::filesystem::path& dir, std::string_view problem) {
    throw std::runtime_error(fmt::format("state directory {}: {}", dir.string(), problem));
}

} // namespace

FruStore::FruStore(std::filesystem::path dir) : dir_(std::move(dir)) {
    std::error_code error;
    bool created = std::filesystem::create_directories(dir_, error);
    if (error) refuse(dir_, error.message());
    if (created) ::chmod(dir_.c_str(), 0700);
    dir_fd_ = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd_ < 0) refuse(dir_, std::strerror(errno));
    struct stat st{};
    ::fstat(dir_fd_, &st);
    std::string problem;
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        problem = fmt::format("owned by uid {}, not by the daemon's user (uid {}) or root", st.st_uid, ::geteuid());
    else if (st.st_mode & (S_IWGRP | S_IWOTH))
        problem = fmt::format("writable by {} (mode {:04o}); allow writing to its owner only",
                              (st.st_mode & S_IWOTH) ? "others" : "its group", st.st_mode & 07777);
    if (!problem.empty()) {
        ::close(dir_fd_);
        refuse(dir_, problem);
    }
    remove_leftovers();
}

FruStore::~FruStore() { ::close(dir_fd_); }

void FruStore::remove_leftovers() const {
    int fd = ::dup(dir_fd_);
    DIR* listing = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (listing == nullptr) {
        if (fd >= 0) ::close(fd);
        return;
    }
    ::rewinddir(listing);
    while (const dirent* entry = ::readdir(listing)) {
        if (!is_leftover(entry->d_name)) continue;
        if (::unlinkat(dir_fd_, entry->d_name, 0) == 0)
            log(LogLevel::info, "removed {}, left by an interrupted FRU write", (dir_ / entry->d_name).string());
    }
    ::closedir(listing);
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

std::optional<std::vector<uint8_t>> FruStore::load(const std::string& fru_name, std::size_t size) const {
    std::filesystem::path path = file_for(fru_name);
    auto ignore = [&](std::string_view why) {
        log(LogLevel::warning, "ignoring saved data of FRU \"{}\" in {}: {}", fru_name, path.string(), why);
        return std::nullopt;
    };
    // Never follow a link, never wait on a FIFO or a device.
    int fd = ::openat(dir_fd_, path.filename().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        return ignore(errno == ELOOP ? "a symbolic link" : std::strerror(errno));
    }
    struct stat st{};
    std::optional<std::vector<uint8_t>> data;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ignore("not a regular file");
    } else if (static_cast<std::size_t>(st.st_size) != size) {
        ignore(fmt::format("{} bytes, its data area has {}", st.st_size, size));
    } else {
        data.emplace(size);
        std::size_t done = 0;
        while (done < size) {
            ssize_t n = ::read(fd, data->data() + done, size - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        if (done != size) {
            data.reset();
            ignore("cannot be read whole");
        }
    }
    ::close(fd);
    return data;
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
    // The rename is durable only once the directory is synced.
    return ::fsync(dir_fd_) == 0;
}

} // namespace velkd
