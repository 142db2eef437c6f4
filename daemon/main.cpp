// velkd-sim: serves a described platform over the management daemon's RPC
// protocol. See README.md.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "default_platform.h"
#include "description_loader.h"
#include "fru_store.h"
#include "log.h"
#include "server.h"
#include "socket_claim.h"
#include "velkdirectfe.h"
#include "velkdirectfe_wire.h"

namespace {

constexpr int kExitBadDescription = 1;
constexpr int kExitNoSocket = 2;
constexpr int kExitUsage = 3;

velkd::Description load(const std::string& config) {
    if (config.empty())
        return velkd::load_description_text(velkd::kDefaultPlatformText, std::string(velkd::kDefaultPlatformSource),
                                            std::filesystem::current_path());
    return velkd::load_description_file(config);
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"velkd-sim: a simulated platform management daemon"};
    app.set_version_flag("--version", std::string("velkd-sim ") + VELKDIRECTFE_VERSION_STRING,
                         "print the version and exit");
    std::string config;
    std::string state_dir;
    std::string socket_path = VELKD_SOCKET_PATH;
    int verbosity = 0;
    std::optional<int> ready_fd;
    velkd::ServerOptions options;
    bool check_only = false;
    bool print_default = false;
    app.add_option("--config", config, "platform description file (TOML); default: the built-in platform");
    app.add_option("--state-dir", state_dir, "directory that keeps FRU data written by clients");
    app.add_option("--socket", socket_path, "socket path")->capture_default_str();
    app.add_flag("-v,--verbose", verbosity, "log each request (-v), and connections too (-vv)");
    app.add_option("--ready-fd", ready_fd, "write \"ready\" to this file descriptor once serving");
    app.add_option("--workers", options.workers, "connections served at once")->check(CLI::Range(1, 1024))->capture_default_str();
    app.add_option("--read-timeout-ms", options.limits.read_timeout_ms, "drop a client silent this long")
        ->check(CLI::Range(1, 3600000))->capture_default_str();
    app.add_flag("--check", check_only, "load the description, report problems and exit");
    app.add_flag("--print-default", print_default, "print the built-in description and exit");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : kExitUsage;
    }
    options.ready_fd = ready_fd;
    velkd::set_log_verbosity(verbosity);

    if (print_default) {
        std::fwrite(velkd::kDefaultPlatformText.data(), 1, velkd::kDefaultPlatformText.size(), stdout);
        return 0;
    }

    std::unique_ptr<velkd::FruStore> store;
    std::shared_ptr<velkd::Platform> platform;
    try {
        if (!state_dir.empty()) store = std::make_unique<velkd::FruStore>(state_dir);
        platform = std::make_shared<velkd::Platform>(load(config), store.get());
    } catch (const std::exception& e) {
        velkd::log(velkd::LogLevel::info, "error: {}", e.what());
        return kExitBadDescription;
    }
    if (check_only) return 0;

    velkd::block_daemon_signals();
    try {
        velkd::SocketClaim socket(socket_path);
        velkd::PlatformHolder platforms(std::move(platform));
        velkd::log(velkd::LogLevel::info, "serving {} on {}",
                   config.empty() ? std::string(velkd::kDefaultPlatformSource) : config, socket_path);
        auto reload = [&]() -> std::shared_ptr<velkd::Platform> {
            try {
                return std::make_shared<velkd::Platform>(load(config), store.get());
            } catch (const std::exception& e) {
                velkd::log(velkd::LogLevel::info, "reload refused, keeping the running platform: {}", e.what());
                return nullptr;
            }
        };
        velkd::run_server(socket.fd(), options, platforms, reload);
    } catch (const std::runtime_error& e) {
        velkd::log(velkd::LogLevel::info, "error: {}", e.what());
        return kExitNoSocket;
    }
    return 0;
}
