// Readings of the platform shared between concurrent scrapes. One worker
// thread makes the library calls; a scrape that arrives while a reading is
// under way waits for that one instead of starting its own, so any number of
// scrapers costs the daemon at most one reading at a time. Its text is
// rendered once and shared by every scrape that waited for it.
//
// A scrape does not hold a thread while it waits: it leaves an answer
// callback, called once the reading is done or, past the scrape's deadline,
// with a reading that says up 0 (a second thread keeps the deadlines). A
// daemon that hangs thus gives the scrape `velkdirect_up 0` on time while the
// reading finishes (or times out in the library) behind it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <list>

#include "platform_reading.h"

namespace velkdirect::exporter {

class SharedReading {
public:
    using Clock = std::chrono::steady_clock;
    using Read = std::function<metrics::PlatformReading()>;
    // The Prometheus text of one reading; null when memory ran out making it.
    using Text = std::shared_ptr<const std::string>;
    // Called exactly once per ask(), from one of this object's threads (never
    // from inside ask() and never with its lock held). Must not throw.
    using Answer = std::function<void(Text)>;

    // `trailer` is added to every reading's text: the exporter's own families.
    explicit SharedReading(Read read = metrics::read_platform, std::string trailer = {});
    // Answers what is still waiting with up 0, then waits for a reading
    // already under way, if it is not finished.
    ~SharedReading();
    SharedReading(const SharedReading&) = delete;
    SharedReading& operator=(const SharedReading&) = delete;

    // Asks for a reading that started no earlier than the one under way when
    // this was called; past `deadline`, `answer` gets a reading with up 0 that
    // says how long it waited.
    void ask(Clock::time_point deadline, Answer answer);

    // Answers every scrape still waiting at once with up 0 (shutting down).
    void answer_all_now();

    // ask() for a caller that may block.
    Text get(Clock::time_point deadline);

    // Whether a reading is under way (for a quick exit on shutdown).
    bool busy();

private:
    struct Waiter {
        uint64_t target; // the reading it waits for
        Clock::time_point asked;
        Clock::time_point deadline;
        Answer answer;
    };

    void work();
    void keep_deadlines();
    void answer_late(Waiter& waiter) const;

    Read read_;
    const std::string trailer_;
    std::mutex mutex_;
    std::condition_variable wanted_cv_;   // the worker: a reading is wanted
    std::condition_variable waiters_cv_;  // the deadline keeper: the waiters changed
    uint64_t wanted_ = 0;  // the latest reading asked for
    uint64_t running_ = 0; // the reading under way (while busy_)
    uint64_t done_ = 0;    // the latest reading finished
    bool busy_ = false;
    bool stop_ = false;
    std::list<Waiter> waiters_; // moved out by splicing, which cannot fail
    std::thread worker_;
    std::thread deadline_keeper_;
};

} // namespace velkdirect::exporter
