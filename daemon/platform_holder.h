// The platform currently served. A call takes its own reference at the start,
// so a reload that swaps in a new platform never changes one under a call.
#pragma once

#include <atomic>
#include <memory>

#include "platform.h"

namespace velkd {

class PlatformHolder {
public:
    explicit PlatformHolder(std::shared_ptr<Platform> first) : current_(std::move(first)) {}

    std::shared_ptr<Platform> get() const { return current_.load(); }
    void replace(std::shared_ptr<Platform> next) { current_.store(std::move(next)); }

private:
    std::atomic<std::shared_ptr<Platform>> current_;
};

} // namespace velkd
