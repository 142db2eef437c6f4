// Takes the daemon's socket path for this process, and gives it back.
//
// A path where another daemon answers is refused; a socket nobody answers
// (its daemon died) is removed and taken over; anything that is not a socket
// is never touched. On release the path is removed only while it still is
// the socket this process bound.
#pragma once

#include <sys/types.h>

#include <stdexcept>
#include <string>

namespace velkd {

class SocketClaim {
public:
    // Binds and listens; throws std::runtime_error saying why it cannot.
    explicit SocketClaim(std::string path);
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
