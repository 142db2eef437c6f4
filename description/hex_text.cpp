#include "hex_text.h"

#include <fmt/format.h>

namespace velkd {
namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::variant<std::vector<uint8_t>, std::string> parse_hex(std::string_view text, std::string_view key) {
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ':') continue;
        int digit = hex_value(c);
        if (digit < 0) return fmt::format("'{}' holds '{}', which is not a hex digit", key, c);
        if (high < 0) {
            high = digit;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0) return fmt::format("'{}' has an odd number of hex digits", key);
    return out;
}

} // namespace velkd
