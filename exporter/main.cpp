// velkdirect-exporter: serves the platform's readings to Prometheus. Every
// GET /metrics reads the platform through the library at that moment; a
// daemon that is down, slow or answers garbage gives velkdirect_up 0 and
// still a 200, so the exporter itself is never the thing that is down.
#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>

#include "call_failure.h"
#include "exit_codes.h"
#include "http_server.h"
#include "listen_address.h"
#include "shared_reading.h"
#include "velkdirectfe.h"

namespace {

namespace exit_code = velk::protocol::exit_code;
using namespace velkdirect::exporter;

// Every address at the exporter's port, as Prometheus exporters listen.
constexpr const char* kDefaultAddress = ":9745";
// How often the request deadlines are checked.
constexpr long kTickNanoseconds = 250'000'000;

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"velkdirect-exporter: the platform's sensors and indicators for Prometheus, on GET /metrics"};
    std::string listen = kDefaultAddress;
    double timeout_s = 10;
    std::string socket_path;
    app.add_option("--web.listen-address", listen,
                   "HOST:PORT to listen on ([IPV6]:PORT; :PORT, the default, for every address, IPv6 and IPv4)")
        ->capture_default_str();
    app.add_option("--socket", socket_path,
                   "the management daemon's socket, instead of the library's default (sets VELKDIRECT_SOCKET)");
    app.add_option("--scrape.timeout", timeout_s,
                   "longest a scrape waits for the daemon, in seconds; Prometheus's own scrape timeout shortens it")
        ->check(CLI::Range(0.1, 600.0))
        ->capture_default_str();
    app.set_version_flag("--version", fmt::format("velkdirect-exporter {}", VELKDIRECTFE_VERSION_STRING));
    app.footer("Metrics and the limits on clients are documented in velkdirect-exporter(1). Exit status: 0 after "
               "SIGINT or SIGTERM, 1 when the address cannot be bound, 2 on bad usage.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? exit_code::ok : exit_code::usage;
    }
    // Before any call: the library reads it at every connection.
    if (!socket_path.empty() && setenv("VELKDIRECT_SOCKET", socket_path.c_str(), 1) != 0) {
        fmt::print(stderr, "velkdirect-exporter: --socket: {}\n", std::strerror(errno));
        return exit_code::failed;
    }
    auto address = parse_listen_address(listen);
    if (!address) {
        fmt::print(stderr, "velkdirect-exporter: --web.listen-address: \"{}\" is not HOST:PORT\n", listen);
        return exit_code::usage;
    }

    // Signals are taken by the main thread with sigtimedwait, between its
    // periodic work; every thread started from here on has them blocked, so
    // no handler runs inside the HTTP library's or the platform library's code.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    ListeningSocket socket = listen_on(*address);
    if (socket.fd < 0) {
        fmt::print(stderr, "velkdirect-exporter: cannot listen on {}: {}\n", listen, socket.error);
        return exit_code::failed;
    }

    // A daemon that cannot be read is logged when the reason changes, in the
    // words velkdirect uses (who serves the socket, if the library refuses it);
    // readings come one at a time from the shared reading's worker.
    auto read_and_tell = [last = std::string()]() mutable {
        velkdirect::metrics::PlatformReading reading = velkdirect::metrics::read_platform();
        std::string reason;
        if (!reading.up) {
            try {
                reason = velk::client::diagnose_local_failure("", {});
            } catch (const std::exception&) {
                reason = velk::client::unreachable_text();
            }
        }
        if (reason != last) {
            if (reason.empty())
                fmt::print(stderr, "velkdirect-exporter: the daemon answers again\n");
            else
                fmt::print(stderr, "velkdirect-exporter: {}\n", reason);
            last = std::move(reason);
        }
        return reading;
    };
    SharedReading shared(read_and_tell,
                         fmt::format("# HELP velkdirect_exporter_build_info The exporter's version.\n"
                                     "# TYPE velkdirect_exporter_build_info gauge\n"
                                     "velkdirect_exporter_build_info{{version=\"{}\"}} 1\n",
                                     VELKDIRECTFE_VERSION_STRING));
    std::optional<HttpServer> server;
    try {
        server.emplace(socket.fd, shared, std::chrono::duration<double>(timeout_s));
    } catch (const std::exception& e) {
        fmt::print(stderr, "velkdirect-exporter: {}\n", e.what());
        return exit_code::failed;
    }
    bool v6 = socket.host.find(':') != std::string::npos;
    fmt::print(stderr, "velkdirect-exporter {}: listening on http://{}{}{}:{}/metrics\n", VELKDIRECTFE_VERSION_STRING,
               v6 ? "[" : "", socket.host, v6 ? "]" : "", socket.port);

    const timespec tick{0, kTickNanoseconds};
    for (;;) {
        int signo = sigtimedwait(&signals, nullptr, &tick);
        if (signo == SIGINT || signo == SIGTERM) break;
        server->tick();
    }
    fmt::print(stderr, "velkdirect-exporter: stopping\n");
    server.reset();
    // A reading stuck on a hung daemon may take the library's whole call
    // timeout; nobody waits for it any more.
    if (shared.busy()) std::_Exit(exit_code::ok);
    return exit_code::ok;
}
