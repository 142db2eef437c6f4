#include "shared_reading.h"

namespace velkdirect::exporter {

SharedReading::SharedReading(Read read) : read_(std::move(read)), worker_([this] { work(); }) {}

SharedReading::~SharedReading() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wanted_cv_.notify_all();
    worker_.join();
}

bool SharedReading::busy() {
    std::lock_guard lock(mutex_);
    return busy_;
}

metrics::PlatformReading SharedReading::get(std::chrono::steady_clock::time_point deadline) {
    auto start = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    uint64_t target = 0;
    if (busy_) {
        target = running_;
    } else {
        if (wanted_ == done_) {
            ++wanted_;
            wanted_cv_.notify_one();
        }
        target = wanted_;
    }
    if (done_cv_.wait_until(lock, deadline, [&] { return done_ >= target; })) return *latest_;
    lock.unlock();
    metrics::PlatformReading late; // up 0: the daemon did not answer in time
    late.duration_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return late;
}

void SharedReading::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wanted_cv_.wait(lock, [&] { return stop_ || wanted_ > done_; });
        if (stop_) return;
        running_ = wanted_;
        busy_ = true;
        lock.unlock();
        auto reading = std::make_shared<const metrics::PlatformReading>(read_());
        lock.lock();
        latest_ = std::move(reading);
        done_ = running_;
        busy_ = false;
        done_cv_.notify_all();
    }
}

} // namespace velkdirect::exporter
