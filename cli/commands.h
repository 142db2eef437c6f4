// The command groups. Each registers its subcommands on the top-level parser;
// parsing only chooses the command, which main() runs afterwards, so that
// usage errors and failed requests are told apart.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <stdexcept>
#include <string>

#include "json_format.h"
#include "text_format.h"

namespace velk::cli {

using namespace velk::client;

struct Context {
    std::function<void()> action; // the chosen command
    bool json = false;            // --json on a reading command
    TableStyle style;             // --csv, --no-header on a listing
};

// A request that reached the daemon but did not do what was asked (the
// daemon wrote fewer bytes, a file could not be written).
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Makes `run` the action when `command` is chosen.
void on_run(CLI::App* command, Context& ctx, std::function<void()> run);
// The --json flag of a reading command.
void add_json_flag(CLI::App* command, Context& ctx);
// --csv and --no-header on a listing command.
void add_table_flags(CLI::App* command, Context& ctx);
// A CLI11 check from one of the parsers of arguments.h, so that a bad value
// is a usage error found while parsing.
template <typename Parse>
CLI::Validator checked_by(Parse parse, std::string description) {
    return CLI::Validator(
        [parse](std::string& text) {
            try {
                parse(text);
                return std::string();
            } catch (const std::invalid_argument& e) {
                return std::string(e.what());
            }
        },
        std::move(description));
}

// Everything the tool prints on stdout goes through print_text, which keeps
// the errno of the first write that failed (0 when none did).
void print_text(const std::string& text);
int output_error();
// Flushes stdout, keeping the errno of a failed flush as print_text does.
void flush_output();
void print_json(const Json& document);
// Text or JSON as the flag asks.
void print(const Context& ctx, const std::string& text, const Json& document);

// A reading command that lists every object of a kind: `fetch()` gives the
// objects, `table(objects)` their text; --json prints them as an array.
template <typename Fetch, typename Format>
CLI::App* add_list_command(CLI::App& app, Context& ctx, std::string name, std::string description, Fetch fetch,
                           Format table) {
    auto* cmd = app.add_subcommand(std::move(name), std::move(description));
    add_json_flag(cmd, ctx);
    add_table_flags(cmd, ctx);
    on_run(cmd, ctx, [&ctx, fetch, table] {
        auto objects = fetch();
        print(ctx, table(objects, ctx.style), json_array(objects));
    });
    return cmd;
}

void add_sensor_commands(CLI::App& app, Context& ctx);
void add_indicator_commands(CLI::App& app, Context& ctx);
void add_fru_commands(CLI::App& app, Context& ctx);
void add_inventory_commands(CLI::App& app, Context& ctx);
void add_snapshot_command(CLI::App& app, Context& ctx);

} // namespace velk::cli
