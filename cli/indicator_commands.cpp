// indicators, indicator NAME [MODE [--for DURATION]].
#include <fmt/format.h>

#include "arguments.h"
#include "commands.h"
#include "calls.h"
#include "call_failure.h"
#include "text_format.h"

namespace velk::cli {
namespace {

void add_indicator(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("indicator", "show an indicator, or set its mode");
    struct Args {
        std::string name;
        std::string mode;
        std::string duration;
    };
    auto args = std::make_shared<Args>();
    cmd->add_option("name", args->name, "the indicator's name")->required();
    auto* mode = cmd->add_option("mode", args->mode, "the mode to set: 0 to 255, off, on, slow or fast")
                     ->check(checked_by(parse_mode, "MODE"));
    cmd->add_option("--for", args->duration,
                    "return to the previous mode after this long: seconds (5, 1.5) or with units (500ms, 1m30s, "
                    "2h); without --for the mode stays until changed")
        ->check(checked_by(parse_duration_ms, "DURATION"))
        ->needs(mode);
    add_json_flag(cmd, ctx);
    on_run(cmd, ctx, [&ctx, args] {
        if (args->mode.empty()) {
            IndicatorRow row{fetch_indicator(args->name), fetch_indicator_mode(args->name)};
            print(ctx, indicator_table({row}), to_json(row));
            return;
        }
        uint8_t mode = parse_mode(args->mode);
        uint32_t duration = args->duration.empty() ? 0 : parse_duration_ms(args->duration);
        try {
            set_indicator_mode(args->name, mode, duration);
        } catch (const CallError& e) {
            if (e.status() != 3) throw;
            // The daemon says only "invalid value"; the indicator lists what it takes.
            Indicator indicator = fetch_indicator(args->name);
            std::vector<std::string> accepted;
            for (uint8_t m : indicator.modes) accepted.push_back(fmt::format("{} ({})", m, mode_name(m)));
            throw Failure(fmt::format("indicator \"{}\": mode {} ({}) is not accepted; it accepts {}", args->name,
                                      mode, mode_name(mode), fmt::join(accepted, ", ")));
        }
        std::string text = fmt::format("{}: {} ({})", args->name, mode, mode_name(mode));
        if (duration != 0) text += fmt::format(" for {}, then back to the previous mode", format_duration_ms(duration));
        print(ctx, text + "\n", Json{{"name", args->name}, {"mode", mode}, {"duration_ms", duration}});
    });
}

} // namespace

void add_indicator_commands(CLI::App& app, Context& ctx) {
    add_list_command(app, ctx, "indicators", "every indicator and its mode", fetch_indicator_rows, indicator_table);
    add_indicator(app, ctx);
}

} // namespace velk::cli
