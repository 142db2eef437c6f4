// The whole-request deadline of every open connection. The HTTP library's own
// timeout notices only a connection that stops sending: one that sends a byte
// a second would keep its connection, and its memory, for as long as it
// likes. Here each connection's clock runs from accept (or from the end of
// the previous answer on a kept-alive connection) until its request line and
// headers are in; sweep() shuts down (shutdown(2)) the sockets of those past
// their deadline, and the HTTP library then closes them as it closes any
// connection its client dropped.
//
// When the server is crowded, the allowance shortens: an honest client sends
// its request right after connecting, so many connections still without one
// are an attack from many addresses, and the places they hold are needed for
// the scrapes waiting to be accepted.
//
// The sweep works on a duplicate of each connection's descriptor, owned here
// from the connection's start until its close notification. The number it
// shuts down therefore always names the same socket, whatever the order in
// which the HTTP library closes its own descriptor and notifies the close.
#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <mutex>

namespace velkdirect::exporter {

class RequestDeadlines {
public:
    using Clock = std::chrono::steady_clock;
    struct Connection {
        int fd; // our duplicate
        bool timed;
        Clock::time_point since; // when its clock started
        std::list<Connection>::iterator self;
    };
    struct Allowance {
        Clock::duration normal;
        Clock::duration crowded; // with `crowded_at` connections open or more
        std::size_t crowded_at;
    };

    explicit RequestDeadlines(Allowance allowance) : allowance_(allowance) {}
    ~RequestDeadlines(); // closes the duplicates of connections never notified closed
    RequestDeadlines(const RequestDeadlines&) = delete;
    RequestDeadlines& operator=(const RequestDeadlines&) = delete;

    // A new connection on `fd`; its clock starts. Null when it cannot be
    // watched (no descriptor or memory left): the caller must refuse it.
    Connection* opened(int fd, Clock::time_point now) noexcept;
    // Its request line and headers are in: no deadline while it is answered.
    void request_in(Connection* connection) noexcept;
    // Its answer is out: the next request on it has the whole allowance.
    void answered(Connection* connection, Clock::time_point now) noexcept;
    void closed(Connection* connection) noexcept;

    // Shuts down every connection past its deadline; returns how many.
    std::size_t sweep(Clock::time_point now) noexcept;
    std::size_t open();

private:
    const Allowance allowance_;
    std::mutex mutex_;
    std::list<Connection> connections_;
};

} // namespace velkdirect::exporter
