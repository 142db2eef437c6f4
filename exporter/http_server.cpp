#include "http_server.h"

#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "exposition.h"

namespace velkdirect::exporter {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kIndexPage[] = R"(<!DOCTYPE html>
<html><head><title>velkdirect exporter</title></head>
<body>
<h1>velkdirect exporter</h1>
<p>Sensor readings, thresholds and indicator modes of the platform that the
management daemon serves, read at every scrape.</p>
<p><a href="metrics">Metrics</a></p>
</body></html>
)";

// Freed memory goes back to the system at most this often.
constexpr auto kTrimInterval = std::chrono::seconds(5);
// How long stop() lets the scrapes it answered send their answer.
constexpr auto kStopGrace = std::chrono::seconds(1);

MHD_Response* fixed_response(std::string_view body, const char* content_type) {
    MHD_Response* response =
        MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_PERSISTENT);
    if (!response) throw std::runtime_error("cannot make a response");
    if (MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, content_type) != MHD_YES) {
        MHD_destroy_response(response);
        throw std::runtime_error("cannot make a response");
    }
    return response;
}

// How long this scrape may wait: Prometheus sends its own timeout, and the
// answer should reach it a little before it gives up.
std::chrono::duration<double> scrape_timeout(MHD_Connection* connection, std::chrono::duration<double> longest) {
    const char* header =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Prometheus-Scrape-Timeout-Seconds");
    if (!header) return longest;
    char* end = nullptr;
    double seconds = std::strtod(header, &end);
    if (end != header && seconds > 0) return std::min(longest, std::chrono::duration<double>(seconds * 0.9));
    return longest;
}

// A body would keep the request open after its headers, out of the deadline's
// reach; no route takes one.
bool announces_body(MHD_Connection* connection) {
    const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    return (length && std::strcmp(length, "0") != 0) ||
           MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
}

RequestDeadlines::Connection* watched(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<RequestDeadlines::Connection*>(info->socket_context) : nullptr;
}

void free_text(void* text) { delete static_cast<SharedReading::Text*>(text); }

} // namespace

// One request, from its headers to its answer.
struct HttpServer::Request {
    bool asked = false;       // a scrape that has asked for its reading
    SharedReading::Text text; // its reading, set (under the server's mutex) before it is resumed
};

HttpServer::HttpServer(int listen_fd, SharedReading& shared, std::chrono::duration<double> scrape_timeout,
                       Limits limits)
    : shared_(shared), scrape_timeout_(scrape_timeout),
      deadlines_({limits.request_deadline, limits.crowded_request_deadline, limits.crowded_at}) {
    index_.reset(fixed_response(kIndexPage, "text/html; charset=utf-8"));
    not_found_.reset(fixed_response("not found\n", "text/plain; charset=utf-8"));
    not_allowed_.reset(fixed_response("only GET and HEAD\n", "text/plain; charset=utf-8"));
    if (MHD_add_response_header(not_allowed_.get(), MHD_HTTP_HEADER_ALLOW, "GET, HEAD") != MHD_YES)
        throw std::runtime_error("cannot make a response");
    body_refused_.reset(fixed_response("a request body is not accepted\n", "text/plain; charset=utf-8"));
    unavailable_.reset(fixed_response("the exporter is stopping\n", "text/plain; charset=utf-8"));

    auto handler = [](void* self, MHD_Connection* connection, const char* url, const char* method, const char*,
                      const char*, size_t*, void** request_context) {
        return static_cast<HttpServer*>(self)->on_request(connection, url, method, request_context);
    };
    auto notify_connection = [](void* self, MHD_Connection* connection, void** socket_context,
                                MHD_ConnectionNotificationCode code) {
        static_cast<HttpServer*>(self)->on_connection(connection, socket_context,
                                                      code == MHD_CONNECTION_NOTIFY_STARTED);
    };
    auto notify_completed = [](void* self, MHD_Connection* connection, void** request_context,
                               MHD_RequestTerminationCode) {
        static_cast<HttpServer*>(self)->on_completed(connection, request_context);
    };
    daemon_ = MHD_start_daemon(
        MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr,
        static_cast<MHD_AccessHandlerCallback>(handler), this,
        MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(listen_fd),
        MHD_OPTION_CONNECTION_LIMIT, limits.connections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits.connections_per_address,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.connection_memory,
        MHD_OPTION_CONNECTION_TIMEOUT, limits.idle_timeout_seconds,
        MHD_OPTION_NOTIFY_CONNECTION, static_cast<MHD_NotifyConnectionCallback>(notify_connection), this,
        MHD_OPTION_NOTIFY_COMPLETED, static_cast<MHD_RequestCompletedCallback>(notify_completed), this,
        MHD_OPTION_END);
    if (!daemon_) throw std::runtime_error("the HTTP server did not start");
}

HttpServer::~HttpServer() { stop(); }

void HttpServer::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true; // no scrape is suspended from here on
    }
    MHD_socket listener = MHD_quiesce_daemon(daemon_); // no new connection
    shared_.answer_all_now();
    {
        // Answers already under way on the reading's threads resume theirs;
        // the HTTP library must not be stopped with a connection suspended.
        std::unique_lock lock(mutex_);
        resumed_cv_.wait(lock, [&] { return suspended_ == 0; });
        // The scrapes just answered get a moment to send their answer.
        resumed_cv_.wait_for(lock, kStopGrace, [&] { return scraping_ == 0; });
    }
    MHD_stop_daemon(daemon_);
    if (listener != MHD_INVALID_SOCKET) close(listener);
}

void HttpServer::tick() {
    auto now = Clock::now();
    deadlines_.sweep(now);
    unsigned long closed = closed_connections_.load(std::memory_order_relaxed);
    if (closed != closed_at_last_trim_ && now - last_trim_ >= kTrimInterval) {
        // The connections' buffers came from the polling thread's heap, which
        // keeps what was freed unless asked to give it back.
        malloc_trim(0);
        closed_at_last_trim_ = closed;
        last_trim_ = now;
    }
}

MHD_Result HttpServer::on_request(MHD_Connection* connection, const char* url, const char* method,
                                  void** request_context) noexcept {
    try {
        auto* request = static_cast<Request*>(*request_context);
        if (!request) {
            // The first call: the request line and headers are in. An answer
            // queued now would close the connection, so it comes at the next
            // call, once the library has seen there is no body.
            deadlines_.request_in(watched(connection));
            // A method other than GET or HEAD is refused as such (405 with
            // Allow), before its body if it has one.
            const bool known = std::strcmp(url, "/metrics") == 0 || std::strcmp(url, "/") == 0;
            if (known && std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
                return MHD_queue_response(connection, MHD_HTTP_METHOD_NOT_ALLOWED, not_allowed_.get());
            if (announces_body(connection))
                return MHD_queue_response(connection, MHD_HTTP_BAD_REQUEST, body_refused_.get());
            *request_context = new Request; // deleted in on_completed
            return MHD_YES;
        }
        if (request->asked) return finish_scrape(connection, request);
        const bool metrics = std::strcmp(url, "/metrics") == 0;
        if (!metrics && std::strcmp(url, "/") != 0)
            return MHD_queue_response(connection, MHD_HTTP_NOT_FOUND, not_found_.get());
        if (!metrics) return MHD_queue_response(connection, MHD_HTTP_OK, index_.get());
        return start_scrape(connection, request);
    } catch (...) {
        return MHD_NO; // out of memory: the connection is closed
    }
}

MHD_Result HttpServer::start_scrape(MHD_Connection* connection, Request* request) {
    auto timeout = scrape_timeout(connection, scrape_timeout_);
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
    // Under the lock: stop() either sees this scrape waiting or refuses it,
    // and its answer cannot resume it before it is suspended.
    std::lock_guard lock(mutex_);
    if (stopping_) return MHD_queue_response(connection, MHD_HTTP_SERVICE_UNAVAILABLE, unavailable_.get());
    shared_.ask(deadline, [this, connection, request](SharedReading::Text text) {
        resume(connection, request, std::move(text));
    });
    MHD_suspend_connection(connection);
    ++suspended_;
    ++scraping_;
    request->asked = true;
    return MHD_YES;
}

void HttpServer::resume(MHD_Connection* connection, Request* request, SharedReading::Text text) noexcept {
    {
        std::lock_guard lock(mutex_);
        request->text = std::move(text);
    }
    // Not under our lock: the polling thread may hold the library's own lock
    // while it calls on_request, which takes ours.
    MHD_resume_connection(connection);
    std::lock_guard lock(mutex_);
    --suspended_;
    resumed_cv_.notify_all();
}

MHD_Result HttpServer::finish_scrape(MHD_Connection* connection, Request* request) {
    SharedReading::Text text;
    {
        std::lock_guard lock(mutex_);
        text = request->text;
    }
    if (!text) return MHD_queue_response(connection, MHD_HTTP_SERVICE_UNAVAILABLE, unavailable_.get());
    // The response borrows the text, shared with every scrape of that reading.
    auto keep = std::make_unique<SharedReading::Text>(text);
    MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
        text->size(), const_cast<char*>(text->data()), free_text, keep.get());
    if (!response) return MHD_NO;
    keep.release(); // the response frees it with free_text
    std::unique_ptr<MHD_Response, decltype(&MHD_destroy_response)> owned(response, MHD_destroy_response);
    const std::string content_type(metrics::kContentType);
    if (MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, content_type.c_str()) != MHD_YES)
        return MHD_NO;
    return MHD_queue_response(connection, MHD_HTTP_OK, response);
}

void HttpServer::on_connection(MHD_Connection* connection, void** socket_context, bool started) noexcept {
    if (!started) {
        deadlines_.closed(static_cast<RequestDeadlines::Connection*>(*socket_context));
        *socket_context = nullptr;
        closed_connections_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    RequestDeadlines::Connection* watch = info ? deadlines_.opened(info->connect_fd, Clock::now()) : nullptr;
    // A connection without a deadline is not served.
    if (!watch && info) shutdown(info->connect_fd, SHUT_RDWR);
    *socket_context = watch;
}

void HttpServer::on_completed(MHD_Connection* connection, void** request_context) noexcept {
    auto* request = static_cast<Request*>(*request_context);
    if (request && request->asked) {
        std::lock_guard lock(mutex_);
        --scraping_;
        resumed_cv_.notify_all();
    }
    delete request;
    *request_context = nullptr;
    deadlines_.answered(watched(connection), Clock::now());
}

} // namespace velkdirect::exporter
