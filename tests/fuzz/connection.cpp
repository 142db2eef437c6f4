// One connection's bytes through velkd-sim as its event loop handles them:
// record marking, call header, argument decoding, dispatch against the
// built-in platform and the reply, over a socket pair. Each input gets a
// fresh platform, so that a call's effects never reach the next input.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>

#include "connection.h"
#include "default_platform.h"
#include "description_loader.h"

namespace {

const velkd::Description& built_in() {
    static const velkd::Description description = velkd::load_description_text(
        velkd::kDefaultPlatformText, std::string(velkd::kDefaultPlatformSource), "/");
    return description;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return -1; // fits the socket's buffer at once
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    if (send(fds[1], data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) abort();
    shutdown(fds[1], SHUT_WR);
    velkd::PlatformHolder platforms(std::make_shared<velkd::Platform>(built_in(), nullptr));
    velkd::ConnectionLimits limits;
    velkd::Connection c(fds[0], 0, -1);
    velkd::Next next = velkd::on_readable(c, limits);
    while (next != velkd::Next::close) {
        char drained[4096]; // what the connection wrote back
        while (recv(fds[1], drained, sizeof drained, MSG_DONTWAIT) > 0) {}
        if (next == velkd::Next::answer) next = velkd::answer_call(c, limits, platforms);
        else if (next == velkd::Next::write) next = velkd::on_writable(c, limits);
        else next = velkd::on_readable(c, limits);
    }
    close(fds[0]);
    close(fds[1]);
    return 0;
}
