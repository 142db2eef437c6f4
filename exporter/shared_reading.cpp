#include "shared_reading.h"

#include <future>

#include "exposition.h"

namespace velkdirect::exporter {

namespace {

SharedReading::Text render(const metrics::PlatformReading& reading, const std::string& trailer) noexcept {
    try {
        return std::make_shared<const std::string>(metrics::exposition(reading) + trailer);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

SharedReading::SharedReading(Read read, std::string trailer)
    : read_(std::move(read)), trailer_(std::move(trailer)), worker_([this] { work(); }), deadline_keeper_([this] { keep_deadlines(); }) {}

SharedReading::~SharedReading() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wanted_cv_.notify_all();
    waiters_cv_.notify_all();
    deadline_keeper_.join();
    answer_all_now();
    worker_.join();
}

bool SharedReading::busy() {
    std::lock_guard lock(mutex_);
    return busy_;
}

void SharedReading::ask(Clock::time_point deadline, Answer answer) {
    std::lock_guard lock(mutex_);
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
    waiters_.push_back({target, Clock::now(), deadline, std::move(answer)});
    waiters_cv_.notify_one();
}

SharedReading::Text SharedReading::get(Clock::time_point deadline) {
    // Shared with the answer, which may still be returning when this does.
    auto promise = std::make_shared<std::promise<Text>>();
    auto text = promise->get_future();
    ask(deadline, [promise](Text answer) { promise->set_value(std::move(answer)); });
    return text.get();
}

void SharedReading::answer_late(Waiter& waiter) const {
    metrics::PlatformReading late; // up 0: the daemon did not answer in time
    late.duration_seconds = std::chrono::duration<double>(Clock::now() - waiter.asked).count();
    waiter.answer(render(late, trailer_));
}

void SharedReading::answer_all_now() {
    std::list<Waiter> all;
    {
        std::lock_guard lock(mutex_);
        all.splice(all.end(), waiters_);
    }
    for (Waiter& waiter : all) answer_late(waiter);
}

void SharedReading::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wanted_cv_.wait(lock, [&] { return stop_ || wanted_ > done_; });
        if (stop_) return;
        running_ = wanted_;
        busy_ = true;
        lock.unlock();
        Text text = render(read_(), trailer_);
        lock.lock();
        done_ = running_;
        busy_ = false;
        std::list<Waiter> ready;
        for (auto it = waiters_.begin(); it != waiters_.end();) {
            auto next = std::next(it);
            if (it->target <= done_) ready.splice(ready.end(), waiters_, it);
            it = next;
        }
        lock.unlock();
        for (Waiter& waiter : ready) waiter.answer(text);
        ready.clear(); // the answers' captures go before the lock is taken again
        lock.lock();
    }
}

void SharedReading::keep_deadlines() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        auto now = Clock::now();
        std::list<Waiter> late;
        auto earliest = Clock::time_point::max();
        for (auto it = waiters_.begin(); it != waiters_.end();) {
            auto next = std::next(it);
            if (it->deadline <= now)
                late.splice(late.end(), waiters_, it);
            else
                earliest = std::min(earliest, it->deadline);
            it = next;
        }
        if (!late.empty()) {
            lock.unlock();
            for (Waiter& waiter : late) answer_late(waiter);
            late.clear();
            lock.lock();
            continue;
        }
        if (earliest == Clock::time_point::max())
            waiters_cv_.wait(lock);
        else
            waiters_cv_.wait_until(lock, earliest);
    }
}

} // namespace velkdirect::exporter
