#include "sigpipe_shield.h"

#include <pthread.h>
#include <ctime>

namespace vdfe {
namespace {

sigset_t sigpipe_only() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

bool sigpipe_pending() {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

} // namespace

SigpipeShield::SigpipeShield() noexcept : was_pending_(sigpipe_pending()) {
    sigset_t block = sigpipe_only();
    pthread_sigmask(SIG_BLOCK, &block, &previous_mask_);
}

SigpipeShield::~SigpipeShield() {
    // A SIGPIPE that was pending before the call is the caller's; leave it.
    if (!was_pending_ && sigpipe_pending()) {
        sigset_t pipe = sigpipe_only();
        timespec no_wait{0, 0};
        sigtimedwait(&pipe, nullptr, &no_wait);
    }
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
}

} // namespace vdfe
