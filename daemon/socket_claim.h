// Takes the daemon's socket path for this process, and gives it back.
//
// A path where another daemon answers is refused; a socket nobody answers
// (its daemon died) is removed and taken over; anything that is not a socket
// is never touched. On release the path is removed only while it still is
// the socket this process bound.
//
// The socket never appears at its path with a wider mode than asked for: it
// is bound inside a fresh directory only this process can enter, given its
// group and mode there, and only then renamed into place.
#pragma once

#include <sys/types.h>

#include <optional>
#include <stdexcept>
#include <string>

namespace velkd {

// Who may connect: the socket's permission bits, and its group (the
// daemon's own group when unset). The default lets the daemon's user and
// group in and nobody else.
struct SocketAccess {
    mode_t mode = 0660;
    std::optional<gid_t> group;
};

// "0660", "660" or "0o660": octal permission bits, at most 0777. Throws
// std::invalid_argument otherwise.
mode_t parse_socket_mode(const std::string& text);
// A group name or number. Throws std::invalid_argument for an unknown one.
gid_t resolve_group(const std::string& name_or_number);

class SocketClaim {
public:
    // Binds and listens; throws std::runtime_error saying why it cannot.
    explicit SocketClaim(std::string path, SocketAccess access = {});
    ~SocketClaim();
    SocketClaim(const SocketClaim&) = delete;
    SocketClaim& operator=(const SocketClaim&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

} // namespace velkd
