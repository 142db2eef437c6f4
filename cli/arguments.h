// Values typed on the command line that CLI11 has no type for. Each parser
// throws std::invalid_argument with a message for the user.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velkdirect {

// "500ms", "10s", "2m", "1h", or a bare number of milliseconds.
uint32_t parse_duration_ms(const std::string& text);

// Hex digits in pairs, with optional spaces, ':' or '-' between bytes and an
// optional leading "0x": "de ad be ef", "deadbeef", "de:ad".
std::vector<uint8_t> parse_hex_bytes(const std::string& text);

// An indicator mode: 0 to 255, or off, on, slow (slow-blink), fast (fast-blink).
uint8_t parse_mode(const std::string& text);

} // namespace velkdirect
