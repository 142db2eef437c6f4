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
