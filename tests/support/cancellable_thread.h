// A thread that a test cancels with pthread_cancel and then joins.
//
// glibc ends a cancelled thread by unwinding its stack (a forced unwind),
// which AddressSanitizer does not follow: the redzones of the frames unwound
// would stay poisoned on the thread's stack, and the frames that run after
// them (landing pads, the thread's exit) would trip over them. A binary that
// includes this keeps its frames' locals on AddressSanitizer's own fake
// stacks instead (detect_stack_use_after_return), where nothing is left
// behind on the real stack.
#pragma once

#include <pthread.h>

#include <cstdlib>
#include <functional>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
extern "C" __attribute__((weak, used)) const char* __asan_default_options() {
    return "detect_stack_use_after_return=1";
}
#endif

// qemu-user cannot unwind a thread through the signal frame that cancels it:
// there even a plain C program whose thread is cancelled in read() aborts.
// Cancellation is therefore tested on the build machine, not under the
// emulator that runs the target's suite (the build says which, by defining
// VDFE_UNDER_EMULATOR).
#ifdef VDFE_UNDER_EMULATOR
#define SKIP_WHERE_CANCELLATION_CANNOT_UNWIND() \
    GTEST_SKIP() << "qemu-user does not unwind a cancelled thread through its signal frame"
#else
#define SKIP_WHERE_CANCELLATION_CANNOT_UNWIND() static_cast<void>(0)
#endif

namespace vdfe::test {

class CancellableThread {
public:
    explicit CancellableThread(std::function<void()> body) : body_(std::move(body)) {
        if (pthread_create(&thread_, nullptr, start, &body_) != 0) abort();
    }
    CancellableThread(const CancellableThread&) = delete;
    CancellableThread& operator=(const CancellableThread&) = delete;

    void cancel() { pthread_cancel(thread_); }
    // PTHREAD_CANCELED when a cancellation ended the thread, else null.
    void* join() {
        void* result = nullptr;
        pthread_join(thread_, &result);
        return result;
    }

private:
    static void* start(void* body) {
        (*static_cast<std::function<void()>*>(body))();
        return nullptr;
    }

    std::function<void()> body_;
    pthread_t thread_;
};

} // namespace vdfe::test
