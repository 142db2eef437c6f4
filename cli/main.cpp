// velkdirect: shows and drives the platform that the management daemon
// serves, for people (tables, a tree) and for scripts (--json).
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "commands.h"
#include "exit_codes.h"
#include "call_failure.h"
#include "monitoring_commands.h"

namespace {

namespace exit_code = velk::exit_code;

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

// Whatever was printed must have reached its destination: a full disk or a
// closed pipe turns success into failure, with a message.
int finish(int code) {
    errno = 0;
    bool flushed = std::fflush(stdout) == 0;
    int error = velk::cli::output_error() != 0 ? velk::cli::output_error() : errno;
    if (flushed && !std::ferror(stdout)) return code;
    fmt::print(stderr, "velkdirect: cannot write the output{}{}\n", error != 0 ? ": " : "",
               error != 0 ? std::strerror(error) : "");
    return code == exit_code::ok ? exit_code::failed : code;
}

int run(int argc, char** argv) {
    CLI::App app{"velkdirect: see and drive the platform that the management daemon serves"};
    app.require_subcommand(1);
    app.set_version_flag("--version", fmt::format("velkdirect {}", VELKDIRECTFE_VERSION_STRING),
                         "print the version and exit");
    app.footer(fmt::format("The daemon is reached at {}. Sensors are named by string id or by logical number\n"
                           "as \"#N\" (quoted: an unquoted # starts a shell comment).\n\n{}\n"
                           "`check` alone follows the monitoring-plugins convention instead\n"
                           "(0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN).",
                           velk::client::socket_path(), exit_code::table));
    velk::cli::Context ctx;
    velk::cli::add_inventory_commands(app, ctx);
    velk::cli::add_sensor_commands(app, ctx);
    velk::cli::add_indicator_commands(app, ctx);
    velk::cli::add_fru_commands(app, ctx);
    velk::cli::add_snapshot_command(app, ctx);
    velk::cli::add_monitoring_commands(app, ctx);
    // `check` is a monitoring plugin: bad usage is UNKNOWN there.
    bool plugin = argc > 1 && std::string_view(argv[1]) == "check";

    try {
        // CLI11 would report a mistyped command as a missing one.
        if (argc > 1 && argv[1][0] != '-' && !is_command(app, argv[1]))
            throw CLI::ExtrasError(std::vector<std::string>{argv[1]});
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = usage_error(app, e);
        return plugin && code != 0 ? velk::cli::kPluginUnknown : code;
    }
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

int main(int argc, char** argv) { return finish(run(argc, argv)); }
