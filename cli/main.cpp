// velkdirect: shows and drives the platform that the management daemon
// serves, for people (tables, a tree) and for scripts (--json).
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstdio>

#include "commands.h"
#include "library.h"

namespace {

constexpr int kExitFailed = 1;      // the daemon refused, or the request did not complete
constexpr int kExitUsage = 2;       // bad command line
constexpr int kExitNoDaemon = 3;    // no daemon, or the call to it broke

int usage_error(const CLI::App& app, const CLI::ParseError& e) {
    // CLI11 prints help and version to stdout and errors to stderr.
    return app.exit(e) == 0 ? 0 : kExitUsage;
}

bool is_command(const CLI::App& app, const std::string& name) {
    return !app.get_subcommands([&](const CLI::App* command) { return command->check_name(name); }).empty();
}

int fail(int code, const char* message) {
    std::fflush(stdout);
    fmt::print(stderr, "velkdirect: {}\n", message);
    return code;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"velkdirect: see and drive the platform that the management daemon serves"};
    app.require_subcommand(1);
    app.set_version_flag("--version", fmt::format("velkdirect {}", VELKDIRECTFE_VERSION_STRING),
                         "print the version and exit");
    app.footer(fmt::format("The daemon is reached at {}.\n"
                           "Exit status: 0 success, 1 the daemon refused or the request failed, 2 bad usage, "
                           "3 the daemon cannot be reached.",
                           velkdirect::kSocketPath));
    velkdirect::Context ctx;
    velkdirect::add_inventory_commands(app, ctx);
    velkdirect::add_sensor_commands(app, ctx);
    velkdirect::add_indicator_commands(app, ctx);
    velkdirect::add_fru_commands(app, ctx);
    velkdirect::add_snapshot_command(app, ctx);

    try {
        // CLI11 would report a mistyped command as a missing one.
        if (argc > 1 && argv[1][0] != '-' && !is_command(app, argv[1]))
            throw CLI::ExtrasError(std::vector<std::string>{argv[1]});
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return usage_error(app, e);
    }
    try {
        ctx.action();
        return 0;
    } catch (const CLI::ParseError& e) {
        return usage_error(app, e);
    } catch (const velkdirect::CallError& e) {
        return fail(e.status() == -1 ? kExitNoDaemon : kExitFailed, e.what());
    } catch (const std::exception& e) {
        return fail(kExitFailed, e.what());
    }
}
