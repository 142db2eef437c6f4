// Values typed on the command line that CLI11 has no type for. Each parser
// throws std::invalid_argument with a message for the user.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velk::cli {

// A duration in milliseconds: a bare number of seconds ("5", "1.5"), or
// numbers with units ms, s, m, h, one after another ("500ms", "1.5s",
// "1m30s", "2h"). Zero is refused: no duration means "until changed".
uint32_t parse_duration_ms(const std::string& text);

// Hex digits in pairs, with optional spaces, ':' or '-' between bytes and an
// optional leading "0x": "de ad be ef", "deadbeef", "de:ad".
std::vector<uint8_t> parse_hex_bytes(const std::string& text);

// An indicator mode: 0 to 255, or off, on, slow (slow-blink), fast (fast-blink).
uint8_t parse_mode(const std::string& text);

} // namespace velk::cli
