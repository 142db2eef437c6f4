// Bytes that connections hold for one purpose (partly received calls,
// replies not yet read), counted against one budget for all of them, so that
// many clients together cost no more than it however they behave.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace velkd {

struct Connection;

class MemoryBudget {
public:
    explicit MemoryBudget(std::size_t limit) : limit_(limit) {}

    // Sets what `holder` holds now. While the total is beyond the budget,
    // the largest holder is dropped: its charge is forgotten and it is
    // handed to `drop` (called under the budget's lock, so the holder stays
    // open meanwhile). False when the holder is itself dropped, now or
    // earlier, and must close.
    template <typename Drop>
    bool hold(Connection* holder, std::size_t bytes, Drop&& drop) {
        std::lock_guard lock(mutex_);
        if (dropped_.contains(holder)) return false;
        set(holder, bytes);
        while (total_ > limit_) {
            Connection* largest = largest_holder();
            forget(largest);
            if (largest == holder) return false;
            dropped_.insert(largest);
            drop(largest);
        }
        return true;
    }

    // Sets what `holder` holds now, without dropping anyone: the total may
    // pass the budget, and full() then says so.
    void charge(Connection* holder, std::size_t bytes) {
        std::lock_guard lock(mutex_);
        set(holder, bytes);
    }

    // The holder closes: it holds nothing any more.
    void release(Connection* holder) {
        std::lock_guard lock(mutex_);
        forget(holder);
        dropped_.erase(holder);
    }

    bool full() const {
        std::lock_guard lock(mutex_);
        return total_ >= limit_;
    }

    std::size_t held() const {
        std::lock_guard lock(mutex_);
        return total_;
    }

    std::size_t limit() const { return limit_; }

private:
    void set(Connection* holder, std::size_t bytes) {
        if (bytes == 0) return forget(holder);
        std::size_t& held = held_[holder];
        total_ = total_ - held + bytes;
        held = bytes;
    }
    void forget(Connection* holder) {
        auto it = held_.find(holder);
        if (it == held_.end()) return;
        total_ -= it->second;
        held_.erase(it);
    }
    Connection* largest_holder() const {
        auto largest = held_.begin();
        for (auto it = held_.begin(); it != held_.end(); ++it)
            if (it->second > largest->second) largest = it;
        return largest->first;
    }

    const std::size_t limit_;
    mutable std::mutex mutex_;
    std::unordered_map<Connection*, std::size_t> held_;
    std::unordered_set<Connection*> dropped_; // until they close
    std::size_t total_ = 0;
};

// The budgets every connection of a server shares.
struct MemoryBudgets {
    MemoryBudget calls;   // calls not yet answered: beyond it the largest holder is dropped
    MemoryBudget replies; // encoded replies not yet read: beyond it new replies wait
    // Bytes of large buffers freed since the heap was last trimmed.
    std::atomic<std::size_t> freed{0};
};

} // namespace velkd
