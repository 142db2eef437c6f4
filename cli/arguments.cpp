#include "arguments.h"

#include <fmt/format.h>

#include <cctype>
#include <charconv>
#include <stdexcept>
#include <string_view>

namespace velkdirect {
namespace {

bool parse_unsigned(std::string_view text, uint64_t& value) {
    if (text.empty()) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

uint32_t parse_duration_ms(const std::string& text) {
    std::string_view digits = text;
    uint64_t scale = 1;
    // "ms" first: it also ends in 's'.
    for (auto [suffix, factor] : {std::pair<std::string_view, uint64_t>{"ms", 1}, {"s", 1000}, {"m", 60000},
                                  {"h", 3600000}}) {
        if (digits.ends_with(suffix)) {
            digits.remove_suffix(suffix.size());
            scale = factor;
            break;
        }
    }
    uint64_t value = 0;
    if (!parse_unsigned(digits, value))
        throw std::invalid_argument(fmt::format("\"{}\" is not a duration (like 500ms, 10s, 2m)", text));
    if (value > UINT32_MAX / scale)
        throw std::invalid_argument(fmt::format("duration \"{}\" is too long (at most {} ms)", text, UINT32_MAX));
    return static_cast<uint32_t>(value * scale);
}

std::vector<uint8_t> parse_hex_bytes(const std::string& text) {
    std::string_view rest = text;
    if (rest.starts_with("0x") || rest.starts_with("0X")) rest.remove_prefix(2);
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : rest) {
        if (c == ' ' || c == ':' || c == '-') {
            if (high >= 0) throw std::invalid_argument(fmt::format("\"{}\": a byte needs two hex digits", text));
            continue;
        }
        int digit = hex_digit(c);
        if (digit < 0) throw std::invalid_argument(fmt::format("\"{}\": '{}' is not a hex digit", text, c));
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0) throw std::invalid_argument(fmt::format("\"{}\": a byte needs two hex digits", text));
    if (bytes.empty()) throw std::invalid_argument("no bytes to write");
    return bytes;
}

uint8_t parse_mode(const std::string& text) {
    if (text == "off") return 0;
    if (text == "on") return 1;
    if (text == "slow" || text == "slow-blink") return 2;
    if (text == "fast" || text == "fast-blink") return 3;
    uint64_t value = 0;
    if (!parse_unsigned(text, value) || value > 255)
        throw std::invalid_argument(
            fmt::format("\"{}\" is not a mode (0 to 255, off, on, slow or fast)", text));
    return static_cast<uint8_t>(value);
}

} // namespace velkdirect
