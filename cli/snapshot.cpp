#include "snapshot.h"

#include <fmt/format.h>

#include "description_writer.h"
#include "text_format.h"

namespace velkdirect {

std::string description_file(const PlatformCapture& capture, const std::string& header) {
    velkd::WriteNotes notes{header, {}};
    for (const auto& timed : capture.timed_modes)
        notes.indicator_notes.push_back(
            timed ? fmt::format("mode {} ({}) was set for a while, with {} s left at capture", timed->first,
                                mode_name(timed->first), timed->second.seconds_left)
                  : "");
    return velkd::write_description(capture.description, notes);
}

} // namespace velkdirect
