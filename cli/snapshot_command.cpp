// snapshot [-o FILE]: the running platform as a velkd-sim description file.
#include <fmt/chrono.h>
#include <fmt/format.h>

#include <ctime>
#include <fstream>

#include "commands.h"
#include "calls.h"
#include "snapshot.h"

namespace velk::cli {

void add_snapshot_command(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("snapshot", "write the platform the daemon serves as a velkd-sim description file");
    auto file = std::make_shared<std::string>();
    cmd->add_option("-o,--output", *file, "write to this file instead of standard output");
    on_run(cmd, ctx, [file] {
        PlatformCapture capture = capture_platform();
        std::string header = fmt::format(
            "velkd-sim description of \"{}\", captured by velkdirect snapshot at {:%Y-%m-%d %H:%M:%S} UTC.\n"
            "Readings hold the values they had then; run it with: velkd-sim --config FILE",
            capture.description.names.name, fmt::gmtime(std::time(nullptr)));
        std::string text = description_file(capture, header);
        if (file->empty()) {
            print_text(text);
            return;
        }
        std::ofstream out(*file, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) throw Failure(fmt::format("cannot write {}", *file));
        const velkd::Description& d = capture.description;
        fmt::print(stderr, "wrote {} ({} FRUs, {} sensors, {} indicators, {} components, {} associations)\n", *file,
                   d.frus.size(), d.sensors.size(), d.indicators.size(), d.components.size(), d.associations.size());
    });
}

} // namespace velk::cli
