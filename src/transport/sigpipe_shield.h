// A daemon that closes the connection under a call must not kill the host
// process with SIGPIPE, and a library must not touch signal dispositions.
// So SIGPIPE is blocked in the calling thread for the length of the call,
// and one that became pending meanwhile is discarded.
#pragma once

#include <csignal>

namespace vdfe {

class SigpipeShield {
public:
    SigpipeShield() noexcept;
    ~SigpipeShield();
    SigpipeShield(const SigpipeShield&) = delete;
    SigpipeShield& operator=(const SigpipeShield&) = delete;

private:
    sigset_t previous_mask_;
    bool was_pending_;
};

} // namespace vdfe
