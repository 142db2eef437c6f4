// velkdirect: shows and drives the platform that the management daemon
// serves, for people (tables, a tree) and for scripts (--json).
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "commands.h"
#include "exit_codes.h"
#include "call_failure.h"
#include "monitoring_commands.h"

namespace {

namespace exit_code = velk::protocol::exit_code;

int usage_error(const CLI::App& app, const CLI::ParseError& e) {
    // CLI11 prints help and version to stdout and errors to stderr.
    return app.exit(e) == 0 ? exit_code::ok : exit_code::usage;
}

bool is_command(const CLI::App& app, const std::string& name) {
    return !app.get_subcommands([&](const CLI::App* command) { return command->check_name(name); }).empty();
}

int fail(int code, const std::string& message) {
    std::fflush(stdout);
    fmt::print(stderr, "velkdirect: {}\n", message);
    return code;
}

// Whatever was printed must have reached its destination: a full disk turns
// success into failure, with a message (for `check`, into UNKNOWN). A reader
// that stopped reading (`velkdirect sensors | head -1`) is a normal end, as
// for the coreutils: SIGPIPE is ignored and EPIPE ends quietly with the
// command's own status.
int finish(int code, bool plugin) {
    errno = 0;
    bool flushed = std::fflush(stdout) == 0;
    int error = velk::cli::output_error() != 0 ? velk::cli::output_error() : errno;
    if (flushed && !std::ferror(stdout)) return code;
    if (error == EPIPE) return code;
    fmt::print(stderr, "velkdirect: cannot write the output{}{}\n", error != 0 ? ": " : "",
               error != 0 ? std::strerror(error) : "");
    if (plugin) return velk::cli::kPluginUnknown;
    return code == exit_code::ok ? exit_code::failed : code;
}

// The command word: the first argument that is neither an option nor the
// value of --socket.
std::string_view command_word(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--socket") {
            ++i;
            continue;
        }
        if (!arg.starts_with("-")) return arg;
    }
    return {};
}

int run(int argc, char** argv, bool plugin) {
    CLI::App app{"velkdirect: see and drive the platform that the management daemon serves", "velkdirect"};
    app.require_subcommand(1);
    app.set_version_flag("--version", fmt::format("velkdirect {}", VELKDIRECTFE_VERSION_STRING),
                         "print the version and exit");
    velk::cli::Context ctx;
    app.add_flag("--json", ctx.json, "print one JSON document instead of text (as each reading command's --json)");
    std::string socket;
    app.add_option("--socket", socket,
                   fmt::format("reach the daemon at PATH (default: ${} or {})", VELKDIRECTFE_SOCKET_ENV,
                               VELKDIRECTFE_SOCKET_PATH))
        ->type_name("PATH");
    app.footer(fmt::format("The daemon is reached at {} unless --socket or ${} names another socket.\n"
                           "Sensors are named by string id or by logical number as \"#N\" (quoted: an\n"
                           "unquoted # starts a shell comment). Exit status: 0 success, 1 failed, 2 usage,\n"
                           "3 the daemon cannot be reached; `check` follows the monitoring plugins (0 OK,\n"
                           "1 WARNING, 2 CRITICAL, 3 UNKNOWN). See velkdirect(1).",
                           VELKDIRECTFE_SOCKET_PATH, VELKDIRECTFE_SOCKET_ENV));
    velk::cli::add_inventory_commands(app, ctx);
    velk::cli::add_sensor_commands(app, ctx);
    velk::cli::add_indicator_commands(app, ctx);
    velk::cli::add_fru_commands(app, ctx);
    velk::cli::add_snapshot_command(app, ctx);
    velk::cli::add_monitoring_commands(app, ctx);

    try {
        // CLI11 would report a mistyped command as a missing one.
        std::string_view command = command_word(argc, argv);
        if (!command.empty() && !is_command(app, std::string(command)))
            throw CLI::ExtrasError(std::vector<std::string>{std::string(command)});
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = usage_error(app, e);
        return plugin && code != 0 ? velk::cli::kPluginUnknown : code;
    }
    if (!socket.empty()) setenv(VELKDIRECTFE_SOCKET_ENV, socket.c_str(), 1);
    auto started = std::chrono::steady_clock::now();
    try {
        ctx.action();
        return exit_code::ok;
    } catch (const CLI::ParseError& e) {
        return usage_error(app, e);
    } catch (const velk::cli::ExitStatus& e) {
        return e.message.empty() ? e.code : fail(e.code, e.message.c_str());
    } catch (const velk::client::CallError& e) {
        if (e.status() != -1) return fail(exit_code::failed, e.what());
        // The library says only -1: find out what happened.
        auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        return fail(exit_code::no_daemon, velk::client::diagnose_local_failure(e.subject(), waited));
    } catch (const std::exception& e) {
        return fail(exit_code::failed, e.what());
    }
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    // `check` is a monitoring plugin: bad usage and unwritable output are UNKNOWN there.
    bool plugin = command_word(argc, argv) == "check";
    return finish(run(argc, argv, plugin), plugin);
}
