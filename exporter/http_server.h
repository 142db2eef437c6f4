// velkdirect-exporter's HTTP server, on libmicrohttpd: GET /metrics answers
// with the shared reading of the platform, GET / with a page that links to
// it, anything else with 404 (405 for another method, 400 for a request that
// announces a body).
//
// One polling thread serves every connection, and no connection holds a
// thread: a scrape is suspended while the platform is read and resumed when
// its reading (or its deadline) comes. Every connection is bounded in time and
// bytes (Limits), so clients that send slowly, endlessly or in numbers cost a
// fixed amount and cannot keep a scrape from being answered.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

#include <microhttpd.h>

#include "request_deadlines.h"
#include "shared_reading.h"

namespace velkdirect::exporter {

struct Limits {
    // From accept (or the previous answer) until the request line and
    // headers are in; then the connection is shut down. Shorter while
    // `crowded_at` connections or more are open.
    std::chrono::milliseconds request_deadline{5000};
    std::chrono::milliseconds crowded_request_deadline{1000};
    unsigned crowded_at = 96;
    // A connection that neither sends nor takes a byte for this long is
    // closed (while its answer goes out, say).
    unsigned idle_timeout_seconds = 10;
    // Each connection's buffer: the request line and headers must fit in it
    // with room to spare (414 or 431 otherwise).
    std::size_t connection_memory = 16 * 1024;
    unsigned connections = 128;
    unsigned connections_per_address = 8;
};

class HttpServer {
public:
    // Serves on `listen_fd`, a listening socket that the server owns from
    // here on. Throws std::runtime_error when the HTTP library does not start.
    HttpServer(int listen_fd, SharedReading& shared, std::chrono::duration<double> scrape_timeout,
               Limits limits = {});
    ~HttpServer(); // stop()
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Periodic work, a few times a second: shuts down connections past their
    // request deadline, and gives the memory of closed connections back to
    // the system.
    void tick();

    // Answers the scrapes still waiting (up 0), then closes every connection
    // and the listening socket.
    void stop();

private:
    struct Request;

    MHD_Result on_request(MHD_Connection* connection, const char* url, const char* method,
                          void** request_context) noexcept;
    MHD_Result start_scrape(MHD_Connection* connection, Request* request);
    MHD_Result finish_scrape(MHD_Connection* connection, Request* request);
    void resume(MHD_Connection* connection, Request* request, SharedReading::Text text) noexcept;
    void on_connection(MHD_Connection* connection, void** socket_context, bool started) noexcept;
    void on_completed(MHD_Connection* connection, void** request_context) noexcept;

    struct ResponseFree {
        void operator()(MHD_Response* response) const { MHD_destroy_response(response); }
    };
    using Response = std::unique_ptr<MHD_Response, ResponseFree>;

    SharedReading& shared_;
    const std::chrono::duration<double> scrape_timeout_;
    RequestDeadlines deadlines_;
    Response index_, not_found_, not_allowed_, body_refused_, unavailable_;
    MHD_Daemon* daemon_ = nullptr;

    std::mutex mutex_; // guards the four below and every Request's text
    std::condition_variable resumed_cv_;
    unsigned suspended_ = 0; // scrapes waiting for their reading
    unsigned scraping_ = 0;  // scrapes from their question until their answer is out
    bool stopping_ = false;

    std::atomic<unsigned long> closed_connections_{0};
    unsigned long closed_at_last_trim_ = 0;
    std::chrono::steady_clock::time_point last_trim_{};
};

} // namespace velkdirect::exporter
