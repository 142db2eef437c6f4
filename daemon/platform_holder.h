// The platform currently served. A call takes its own reference at the start,
// so a reload that swaps in a new platform never changes one under a call.
// A mutex rather than std::atomic<std::shared_ptr>: GCC 12's implementation
// guards the pointer with a spin bit that the thread sanitizer cannot see
// (it reports the reload as a race), and the lock is held for a pointer copy.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

#include "platform.h"

namespace velkd {

class PlatformHolder {
public:
    explicit PlatformHolder(std::shared_ptr<Platform> first) : current_(std::move(first)) {}

    std::shared_ptr<Platform> get() const {
        std::lock_guard lock(mutex_);
        return current_;
    }
    void replace(std::shared_ptr<Platform> next) {
        {
            std::lock_guard lock(mutex_);
            current_.swap(next);
        }
        // `next` holds the old platform; the last call using it frees it.
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<Platform> current_;
};

} // namespace velkd
