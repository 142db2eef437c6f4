// Bytes written as hex digits, two a byte, with spaces, tabs, line breaks and
// colons between them as the writer likes ("00 01:ff").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velkd {

// The bytes, or what is wrong with the text (a message naming `key`).
std::variant<std::vector<uint8_t>, std::string> parse_hex(std::string_view text, std::string_view key);

} // namespace velkd
