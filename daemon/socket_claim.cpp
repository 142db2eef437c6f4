#include "socket_claim.h"

#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#include "log.h"

namespace velkd {
namespace {

sockaddr_un address_of(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw std::runtime_error(fmt::format("socket path {} is longer than {} bytes", path,
                                             sizeof address.sun_path - 1));
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// True when a process accepts connections on the socket at `path`.
bool someone_answers(const sockaddr_un& address) {
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) throw std::runtime_error(fmt::format("socket: {}", std::strerror(errno)));
    bool answers = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    int error = errno;
    ::close(probe);
    if (!answers && error != ECONNREFUSED)
        throw std::runtime_error(fmt::format("cannot probe the socket {}: {}", address.sun_path, std::strerror(error)));
    return answers;
}

// Binds `fd` at `address` with the access asked for, the path appearing only
// once mode and group are set. Throws with the failing step's reason.
void bind_restricted(int fd, const std::string& path, const SocketAccess& access) {
    std::string::size_type slash = path.rfind('/');
    std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string dir_template = parent + "/.velkd-sim.XXXXXX";
    std::vector<char> dir(dir_template.begin(), dir_template.end());
    dir.push_back('\0');
    if (::mkdtemp(dir.data()) == nullptr)
        throw std::runtime_error(fmt::format("cannot create a private directory in {}: {}", parent,
                                             std::strerror(errno)));
    std::string staging = std::string(dir.data()) + "/s";
    auto fail = [&](const std::string& what) {
        int error = errno;
        ::unlink(staging.c_str());
        ::rmdir(dir.data());
        throw std::runtime_error(fmt::format("{}: {}", what, std::strerror(error)));
    };
    sockaddr_un staged{};
    staged.sun_family = AF_UNIX;
    if (staging.size() >= sizeof staged.sun_path) {
        errno = ENAMETOOLONG;
        fail(fmt::format("cannot bind {}", path));
    }
    std::memcpy(staged.sun_path, staging.c_str(), staging.size() + 1);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&staged), sizeof staged) != 0)
        fail(fmt::format("cannot bind {}", path));
    if (access.group && ::lchown(staging.c_str(), static_cast<uid_t>(-1), *access.group) != 0)
        fail(fmt::format("cannot give {} to group {}", path, *access.group));
    if (::chmod(staging.c_str(), access.mode) != 0) fail(fmt::format("cannot set the mode of {}", path));
    // No replacing: a daemon that took the path meanwhile keeps it.
    if (::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) {
            ::unlink(staging.c_str());
            ::rmdir(dir.data());
            throw std::runtime_error(fmt::format("another daemon took {} while this one started", path));
        }
        fail(fmt::format("cannot move the socket to {}", path));
    }
    ::rmdir(dir.data());
}

} // namespace

mode_t parse_socket_mode(const std::string& text) {
    std::string_view digits = text;
    if (digits.starts_with("0o")) digits.remove_prefix(2);
    unsigned value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 8);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() || value > 0777)
        throw std::invalid_argument(fmt::format("socket mode {} is not octal permission bits (0000 to 0777)", text));
    return static_cast<mode_t>(value);
}

gid_t resolve_group(const std::string& name_or_number) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (::getgrnam_r(name_or_number.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->gr_gid;
    unsigned long number = 0;
    auto [end, error] = std::from_chars(name_or_number.data(), name_or_number.data() + name_or_number.size(), number);
    if (!name_or_number.empty() && error == std::errc{} && end == name_or_number.data() + name_or_number.size() &&
        number < static_cast<gid_t>(-1))
        return static_cast<gid_t>(number);
    throw std::invalid_argument(fmt::format("no group named {}", name_or_number));
}

SocketClaim::SocketClaim(std::string path, SocketAccess access) : path_(std::move(path)) {
    sockaddr_un address = address_of(path_);
    struct stat st{};
    if (::lstat(path_.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            throw std::runtime_error(fmt::format("{} exists and is not a socket; leaving it alone", path_));
        if (someone_answers(address))
            throw std::runtime_error(fmt::format("another daemon is serving on {}", path_));
        log(LogLevel::info, "removing stale socket {}", path_);
        if (::unlink(path_.c_str()) != 0 && errno != ENOENT)
            throw std::runtime_error(fmt::format("cannot remove stale socket {}: {}", path_, std::strerror(errno)));
    }
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error(fmt::format("socket: {}", std::strerror(errno)));
    try {
        bind_restricted(fd_, path_, access);
    } catch (...) {
        ::close(fd_);
        throw;
    }
    if (::listen(fd_, SOMAXCONN) != 0 || ::lstat(path_.c_str(), &st) != 0) {
        int error = errno;
        ::unlink(path_.c_str());
        ::close(fd_);
        throw std::runtime_error(fmt::format("cannot listen on {}: {}", path_, std::strerror(error)));
    }
    dev_ = st.st_dev;
    ino_ = st.st_ino;
}

SocketClaim::~SocketClaim() {
    struct stat st{};
    if (::lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == dev_ && st.st_ino == ino_)
        ::unlink(path_.c_str());
    ::close(fd_);
}

} // namespace velkd
