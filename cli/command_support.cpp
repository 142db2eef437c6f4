#include <fmt/format.h>

#include <cerrno>
#include <cstdio>

#include "commands.h"

namespace velk::cli {

void on_run(CLI::App* command, Context& ctx, std::function<void()> run) {
    command->callback([&ctx, run = std::move(run)] { ctx.action = run; });
}

void add_json_flag(CLI::App* command, Context& ctx) {
    command->add_flag("--json", ctx.json, "print one JSON document instead of text");
}

void add_table_flags(CLI::App* command, Context& ctx) {
    command->add_flag_function(
        "--csv", [&ctx](std::int64_t) { ctx.style.csv = true; },
        "print comma-separated values (quoted where needed) instead of aligned columns");
    command->add_flag_function(
        "--no-header", [&ctx](std::int64_t) { ctx.style.header = false; }, "leave out the line of column titles");
}

namespace {
int g_output_error = 0; // errno of the first failed write to stdout
} // namespace

void print_text(const std::string& text) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && g_output_error == 0)
        g_output_error = errno;
}

int output_error() { return g_output_error; }

void flush_output() {
    errno = 0;
    if (std::fflush(stdout) != 0 && g_output_error == 0) g_output_error = errno;
}

void print_json(const Json& document) { print_text(document.dump(2) + "\n"); }

void print(const Context& ctx, const std::string& text, const Json& document) {
    if (ctx.json)
        print_json(document);
    else
        print_text(text);
}

} // namespace velk::cli
