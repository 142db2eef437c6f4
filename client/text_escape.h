// Text from the daemon made safe for a terminal: control characters (C0,
// DEL and, in UTF-8, C1) become \xNN, so that no name or string a daemon
// sends can move the cursor, clear the screen or retitle the window.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velk::client {

// True for a byte that is a control character on its own (C0 or DEL).
constexpr bool is_control_byte(uint8_t b) { return b < 0x20 || b == 0x7F; }
// "\x1b" for 0x1B.
std::string escaped_byte(uint8_t b);
// UTF-8 text with every control character escaped; other bytes are kept.
// `keep_newlines` leaves line feeds and tabs alone for multi-line text.
std::string terminal_safe(std::string_view text, bool keep_newlines = false);

} // namespace velk::client
