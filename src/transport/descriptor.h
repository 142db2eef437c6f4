// A file descriptor owned for the length of one call and closed on every
// path, a thread cancelled in the middle of the call included.
#pragma once

#include <pthread.h>
#include <unistd.h>

#include <utility>

namespace vdfe {

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Descriptor() { reset(); }

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }

    // close(2) is a cancellation point. Acted on there, a cancellation would
    // leave the descriptor open and unwind out of a destructor, which ends the
    // process; so the close holds cancellation off, and a pending one is
    // acted on at the thread's next cancellation point instead.
    void reset() noexcept {
        if (fd_ < 0) return;
        int state = 0;
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
        close(fd_);
        pthread_setcancelstate(state, &state);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

} // namespace vdfe
