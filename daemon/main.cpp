// velkd-sim: serves a described platform over the management daemon's RPC
// protocol. See README.md.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include <unistd.h>

#include "default_platform.h"
#include "description_loader.h"
#include "exit_codes.h"
#include "fru_store.h"
#include "log.h"
#include "server.h"
#include "socket_claim.h"
#include "systemd_notify.h"
#include "velkdirectfe.h"
#include "velkdirectfe_wire.h"

namespace {

namespace exit_code = velk::protocol::exit_code;

velkd::Description load(const std::string& config, bool optional) {
    std::error_code error;
    if (config.empty() || (optional && !std::filesystem::exists(config, error) && !error))
        return velkd::load_description_text(velkd::kDefaultPlatformText, std::string(velkd::kDefaultPlatformSource),
                                            std::filesystem::current_path());
    return velkd::load_description_file(config);
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"velkd-sim: a simulated platform management daemon"};
    app.set_version_flag("--version", std::string("velkd-sim ") + VELKDIRECTFE_VERSION_STRING,
                         "print the version and exit");
    app.footer(std::string(exit_code::table));
    std::string config;
    bool config_optional = false;
    std::string state_dir;
    std::string socket_path = VELKD_SOCKET_PATH;
    std::string socket_mode = "0660";
    std::string socket_group;
    int verbosity = 0;
    std::optional<int> ready_fd;
    velkd::ServerOptions options;
    bool check_only = false;
    bool print_default = false;
    app.add_option("--config", config, "platform description file (TOML); default: the built-in platform");
    app.add_flag("--config-optional", config_optional,
                 "serve the built-in platform while the --config file does not exist");
    app.add_option("--state-dir", state_dir, "directory that keeps FRU data written by clients");
    app.add_option("--socket", socket_path, "socket path")->capture_default_str();
    app.add_option("--socket-mode", socket_mode,
                   "permission bits of the socket, octal; default: the daemon's user and group only")
        ->capture_default_str();
    app.add_option("--socket-group", socket_group, "group of the socket (name or number); default: the daemon's");
    app.add_flag("-v,--verbose", verbosity, "log each request (-v), and connections too (-vv)");
    app.add_option("--ready-fd", ready_fd, "write \"ready\" to this file descriptor once serving");
    app.add_option("--workers", options.workers, "calls answered at once")->check(CLI::Range(1, 1024))->capture_default_str();
    app.add_option("--read-timeout-ms", options.limits.read_timeout_ms,
                   "drop a client whose call takes longer to arrive, or that is silent this long between calls")
        ->check(CLI::Range(1, 3600000))->capture_default_str();
    app.add_option("--first-byte-timeout-ms", options.limits.first_byte_timeout_ms,
                   "drop a client that sends nothing this long after connecting")
        ->check(CLI::Range(1, 3600000))->capture_default_str();
    app.add_option("--reply-timeout-ms", options.limits.reply_timeout_ms,
                   "drop a client that reads less than 64 KiB of a reply (or its end) in this long")
        ->check(CLI::Range(1, 3600000))->capture_default_str();
    app.add_option("--max-connections", options.max_connections, "connections open at once; newer ones are closed")
        ->check(CLI::Range(1, 65536))->capture_default_str();
    app.add_option("--max-connections-per-user", options.max_connections_per_user,
                   "connections open at once from one user; newer ones are closed")
        ->check(CLI::Range(1, 65536))->capture_default_str();
    std::optional<int> reserved;
    app.add_option("--reserved-connections", reserved,
                   "of --max-connections, slots that only root and the daemon's own user may take; "
                   "default: a sixteenth of them")
        ->check(CLI::Range(0, 65536));
    std::size_t call_budget_mib = options.call_budget_bytes >> 20, reply_budget_mib = options.reply_budget_bytes >> 20;
    app.add_option("--call-budget-mib", call_budget_mib,
                   "memory for calls not yet answered, all clients together; beyond it the largest is dropped")
        ->check(CLI::Range(1, 4095))->capture_default_str();
    app.add_option("--reply-budget-mib", reply_budget_mib,
                   "memory for replies not yet read, all clients together; beyond it new replies wait")
        ->check(CLI::Range(1, 4095))->capture_default_str();
    app.add_flag("--check", check_only,
                 "load the description and exit: every problem on a line of its own (up to 50), or \"ok\" "
                 "with a count of each kind of object");
    app.add_flag("--print-default", print_default, "print the built-in description and exit");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? exit_code::ok : exit_code::usage;
    }
    velkd::set_log_verbosity(verbosity);
    options.reserved_connections = reserved.value_or(options.max_connections / 16);
    if (options.reserved_connections >= options.max_connections) {
        velkd::log(velkd::LogLevel::error, "--reserved-connections must be below --max-connections ({})",
                   options.max_connections);
        return exit_code::usage;
    }
    options.call_budget_bytes = call_budget_mib << 20;
    options.reply_budget_bytes = reply_budget_mib << 20;
    velkd::SocketAccess access;
    try {
        access.mode = velkd::parse_socket_mode(socket_mode);
        if (!socket_group.empty()) access.group = velkd::resolve_group(socket_group);
    } catch (const std::invalid_argument& e) {
        velkd::log(velkd::LogLevel::error, "{}", e.what());
        return exit_code::usage;
    }

    if (print_default) {
        std::fwrite(velkd::kDefaultPlatformText.data(), 1, velkd::kDefaultPlatformText.size(), stdout);
        return exit_code::ok;
    }

    std::unique_ptr<velkd::FruStore> store;
    std::shared_ptr<velkd::Platform> platform;
    try {
        if (!state_dir.empty()) store = std::make_unique<velkd::FruStore>(state_dir);
        platform = std::make_shared<velkd::Platform>(load(config, config_optional), store.get());
    } catch (const velkd::LoadError& e) {
        // Every problem on a line of its own, in line order, and how many
        // there were; --check prints them bare, as a compiler does.
        if (check_only) {
            for (const std::string& problem : e.problems()) fmt::print(stderr, "{}\n", problem);
            fmt::print(stderr, "{} problem{} found{}\n", e.problems().size(), e.problems().size() == 1 ? "" : "s",
                       e.cut_short() ? fmt::format(" (the check stops after {})", velkd::kMaxLoadProblems) : "");
            return exit_code::failed;
        }
        for (const std::string& problem : e.problems()) velkd::log(velkd::LogLevel::error, "{}", problem);
        return exit_code::failed;
    } catch (const std::exception& e) {
        velkd::log(velkd::LogLevel::error, "{}", e.what());
        return exit_code::failed;
    }
    if (check_only) {
        const velkd::Description& d = platform->description();
        std::string summary = fmt::format(
            "ok: {}: platform \"{}\", {} FRUs, {} sensors, {} indicators, {} components, {} associations, {} faults\n",
            d.source, d.names.name, d.frus.size(), d.sensors.size(), d.indicators.size(), d.components.size(),
            d.associations.size(), d.faults.size());
        std::fwrite(summary.data(), 1, summary.size(), stdout);
        return std::fflush(stdout) == 0 ? exit_code::ok : exit_code::failed;
    }

    velkd::block_daemon_signals();
    try {
        // Under socket activation the service manager owns the path and its
        // access (SocketMode=, SocketGroup=); otherwise the daemon claims it.
        std::optional<int> activated = velkd::take_activated_socket();
        std::optional<velkd::SocketClaim> claim;
        if (!activated) claim.emplace(socket_path, access);
        int listen_fd = activated ? *activated : claim->fd();
        std::string serving = fmt::format("serving {} on {}",
                                          config.empty() || !std::filesystem::exists(config) ? std::string(velkd::kDefaultPlatformSource) : config,
                                          activated ? velkd::socket_path_of(*activated) : socket_path);
        velkd::PlatformHolder platforms(std::move(platform));
        velkd::log(velkd::LogLevel::info, "{}{}", serving, activated ? " (socket passed by the service manager)" : "");
        auto reload = [&]() -> std::shared_ptr<velkd::Platform> {
            velkd::notify_reloading();
            std::shared_ptr<velkd::Platform> next;
            try {
                next = std::make_shared<velkd::Platform>(load(config, config_optional), store.get());
            } catch (const std::exception& e) {
                velkd::log(velkd::LogLevel::warning, "reload refused, keeping the running platform: {}", e.what());
            }
            velkd::notify_ready(serving);
            return next;
        };
        options.ready_fd = velkd::relay_ready(ready_fd, serving);
        velkd::run_server(listen_fd, options, platforms, reload);
        velkd::notify_stopping();
        if (activated) ::close(*activated);
    } catch (const std::runtime_error& e) {
        velkd::log(velkd::LogLevel::error, "{}", e.what());
        return exit_code::socket_busy;
    }
    return exit_code::ok;
}
