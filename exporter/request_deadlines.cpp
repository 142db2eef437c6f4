#include "request_deadlines.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velkdirect::exporter {

RequestDeadlines::~RequestDeadlines() {
    for (Connection& connection : connections_) close(connection.fd);
}

RequestDeadlines::Connection* RequestDeadlines::opened(int fd, Clock::time_point now) noexcept {
    int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return nullptr;
    try {
        std::lock_guard lock(mutex_);
        auto it = connections_.insert(connections_.end(), Connection{own, true, now, {}});
        it->self = it;
        return &*it;
    } catch (const std::bad_alloc&) {
        close(own);
        return nullptr;
    }
}

void RequestDeadlines::request_in(Connection* connection) noexcept {
    if (!connection) return;
    std::lock_guard lock(mutex_);
    connection->timed = false;
}

void RequestDeadlines::answered(Connection* connection, Clock::time_point now) noexcept {
    if (!connection) return;
    std::lock_guard lock(mutex_);
    connection->timed = true;
    connection->since = now;
}

void RequestDeadlines::closed(Connection* connection) noexcept {
    if (!connection) return;
    std::lock_guard lock(mutex_);
    close(connection->fd);
    connections_.erase(connection->self);
}

std::size_t RequestDeadlines::sweep(Clock::time_point now) noexcept {
    std::lock_guard lock(mutex_);
    const bool crowded = connections_.size() >= allowance_.crowded_at;
    const Clock::time_point started_before = now - (crowded ? allowance_.crowded : allowance_.normal);
    std::size_t cut = 0;
    for (Connection& connection : connections_) {
        if (!connection.timed || connection.since > started_before) continue;
        shutdown(connection.fd, SHUT_RDWR);
        connection.timed = false;
        ++cut;
    }
    return cut;
}

std::size_t RequestDeadlines::open() {
    std::lock_guard lock(mutex_);
    return connections_.size();
}

} // namespace velkdirect::exporter
