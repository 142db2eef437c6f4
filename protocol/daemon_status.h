// The status values velkd-sim answers (0 is success) and the words both
// tools use for them (protocol.toml lists them; the man pages print the same
// list from there).
#pragma once

#include <string>
#include <string_view>

#include "protocol_tables.h"

namespace velk::protocol {

static_assert([] {
    for (std::size_t i = 0; i < kStatusWords.size(); ++i)
        if (kStatusWords[i].status != static_cast<int>(i + 1)) return false;
    return true;
}(), "kStatusWords lists the statuses 1, 2, 3... in order");

// The words for a status; empty for 0 and for a value the daemon does not define.
constexpr std::string_view status_words(int status) {
    return status >= 1 && status <= static_cast<int>(kStatusWords.size()) ? kStatusWords[status - 1].words
                                                                          : std::string_view{};
}

// "unknown object (status 1)", or "status 99" for a value without words.
std::string describe_status(int status);

} // namespace velk::protocol
