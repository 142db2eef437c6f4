#include "socket_claim.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <cstring>

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

} // namespace

SocketClaim::SocketClaim(std::string path) : path_(std::move(path)) {
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
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, SOMAXCONN) != 0 || ::lstat(path_.c_str(), &st) != 0) {
        int error = errno;
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
