// Readings of the platform shared between concurrent scrapes. One worker
// thread makes the library calls; a scrape that arrives while a reading is
// under way waits for that one instead of starting its own, so any number of
// scrapers costs the daemon at most one reading at a time. A scrape waits
// only until its deadline: a daemon that hangs gives it `velkdirect_up 0`
// on time while the reading finishes (or times out in the library) behind it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform_reading.h"

namespace velkdirect::exporter {

class SharedReading {
public:
    using Read = std::function<metrics::PlatformReading()>;
    explicit SharedReading(Read read = metrics::read_platform);
    // Waits for a reading already under way, if it is not finished.
    ~SharedReading();
    SharedReading(const SharedReading&) = delete;
    SharedReading& operator=(const SharedReading&) = delete;

    // A reading that started no earlier than the one under way when this was
    // called; past `deadline`, a reading with up 0 that says how long it waited.
    metrics::PlatformReading get(std::chrono::steady_clock::time_point deadline);

    // Whether a reading is under way (for a quick exit on shutdown).
    bool busy();

private:
    void work();

    Read read_;
    std::mutex mutex_;
    std::condition_variable wanted_cv_;
    std::condition_variable done_cv_;
    uint64_t wanted_ = 0;  // the latest reading asked for
    uint64_t running_ = 0; // the reading under way (while busy_)
    uint64_t done_ = 0;    // the latest reading finished
    bool busy_ = false;
    bool stop_ = false;
    std::shared_ptr<const metrics::PlatformReading> latest_;
    std::thread worker_;
};

} // namespace velkdirect::exporter
