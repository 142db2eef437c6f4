// velkdirect-exporter: serves the platform's readings to Prometheus. Every
// GET /metrics reads the platform through the library at that moment; a
// daemon that is down, slow or answers garbage gives velkdirect_up 0 and
// still a 200, so the exporter itself is never the thing that is down.
#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "exit_codes.h"
#include "exposition.h"
#include "velkdirectfe.h"
#include "shared_reading.h"

namespace {

namespace exit_code = velk::exit_code;

constexpr const char* kDefaultAddress = "127.0.0.1:9745";
constexpr int kHandlerThreads = 16;

struct Address {
    std::string host;
    int port = 0;
};

// HOST:PORT, [IPV6]:PORT, or :PORT for every interface. Port 0 takes a free one.
std::optional<Address> parse_address(const std::string& text) {
    auto colon = text.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    Address out;
    out.host = text.substr(0, colon);
    if (out.host.size() >= 2 && out.host.front() == '[' && out.host.back() == ']')
        out.host = out.host.substr(1, out.host.size() - 2);
    if (out.host.empty()) out.host = "0.0.0.0";
    std::string port = text.substr(colon + 1);
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), out.port);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || out.port < 0 || out.port > 65535)
        return std::nullopt;
    return out;
}

constexpr const char* kIndexPage = R"(<!DOCTYPE html>
<html><head><title>velkdirect exporter</title></head>
<body>
<h1>velkdirect exporter</h1>
<p>Sensor readings, thresholds and indicator modes of the platform that the
management daemon serves, read at every scrape.</p>
<p><a href="metrics">Metrics</a></p>
</body></html>
)";

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"velkdirect-exporter: the platform's sensors and indicators for Prometheus, on GET /metrics"};
    std::string listen = kDefaultAddress;
    double timeout_s = 10;
    app.add_option("--web.listen-address", listen, "HOST:PORT to listen on ([IPV6]:PORT, :PORT for every interface)")
        ->capture_default_str();
    app.add_option("--scrape.timeout", timeout_s,
                   "longest a scrape waits for the daemon, in seconds; Prometheus's own scrape timeout shortens it")
        ->check(CLI::Range(0.1, 600.0))
        ->capture_default_str();
    app.set_version_flag("--version", fmt::format("velkdirect-exporter {}", VELKDIRECTFE_VERSION_STRING));
    app.footer("Metrics are documented in velkdirect-exporter(1). Exit status: 0 after SIGINT or SIGTERM, 1 when "
               "the address cannot be bound, 2 on bad usage.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? exit_code::ok : exit_code::usage;
    }
    auto address = parse_address(listen);
    if (!address) {
        fmt::print(stderr, "velkdirect-exporter: --web.listen-address: \"{}\" is not HOST:PORT\n", listen);
        return exit_code::usage;
    }

    // Signals go to one thread that stops the server; no handler runs
    // inside httplib's or the library's code.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    velkdirect::exporter::SharedReading shared;
    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kHandlerThreads); };
    const auto longest = std::chrono::duration<double>(timeout_s);

    server.Get("/metrics", [&](const httplib::Request& req, httplib::Response& res) {
        auto timeout = longest;
        // Answer a little before Prometheus gives up on the scrape.
        if (req.has_header("X-Prometheus-Scrape-Timeout-Seconds")) {
            const std::string header = req.get_header_value("X-Prometheus-Scrape-Timeout-Seconds");
            char* end = nullptr;
            double seconds = std::strtod(header.c_str(), &end);
            if (end != header.c_str() && seconds > 0)
                timeout = std::min(timeout, std::chrono::duration<double>(seconds * 0.9));
        }
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout);
        res.set_content(velkdirect::metrics::exposition(shared.get(deadline)),
                        std::string(velkdirect::metrics::kContentType));
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content(kIndexPage, "text/html"); });

    int port = address->port;
    bool bound = port == 0 ? (port = server.bind_to_any_port(address->host)) > 0
                           : server.bind_to_port(address->host, port);
    if (!bound) {
        fmt::print(stderr, "velkdirect-exporter: cannot listen on {}\n", listen);
        return exit_code::failed;
    }
    bool v6 = address->host.find(':') != std::string::npos;
    fmt::print(stderr, "velkdirect-exporter {}: listening on http://{}{}{}:{}/metrics\n", VELKDIRECTFE_VERSION_STRING,
               v6 ? "[" : "", address->host, v6 ? "]" : "", port);

    std::thread stopper([&] {
        int signo = 0;
        sigwait(&signals, &signo);
        server.stop();
    });
    server.listen_after_bind();
    fmt::print(stderr, "velkdirect-exporter: stopping\n");
    // A reading stuck on a hung daemon may take the library's whole call
    // timeout; nobody waits for it any more.
    if (shared.busy()) std::_Exit(exit_code::ok);
    stopper.join();
    return exit_code::ok;
}
