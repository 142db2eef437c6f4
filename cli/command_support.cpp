#include <fmt/format.h>

#include <cstdio>

#include "commands.h"

namespace velkdirect {

void on_run(CLI::App* command, Context& ctx, std::function<void()> run) {
    command->callback([&ctx, run = std::move(run)] { ctx.action = run; });
}

void add_json_flag(CLI::App* command, Context& ctx) {
    command->add_flag("--json", ctx.json, "print one JSON document instead of text");
}

void print_text(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void print_json(const Json& document) { print_text(document.dump(2) + "\n"); }

void print(const Context& ctx, const std::string& text, const Json& document) {
    if (ctx.json)
        print_json(document);
    else
        print_text(text);
}

} // namespace velkdirect
