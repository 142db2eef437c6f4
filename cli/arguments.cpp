#include "arguments.h"
#include "protocol_tables.h"

#include <fmt/format.h>

#include <cctype>
#include <charconv>
#include <stdexcept>
#include <string_view>

namespace velk::cli {
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
    auto bad = [&] {
        return std::invalid_argument(
            fmt::format("\"{}\" is not a duration (seconds, or with units: 500ms, 1.5s, 1m30s, 2h)", text));
    };
    std::string_view rest = text;
    if (rest.empty()) throw bad();
    uint64_t total = 0; // milliseconds
    while (!rest.empty()) {
        // A number: digits with an optional fraction.
        std::size_t digits = 0;
        while (digits < rest.size() && (std::isdigit(static_cast<unsigned char>(rest[digits])) || rest[digits] == '.'))
            ++digits;
        std::string_view number = rest.substr(0, digits);
        rest.remove_prefix(digits);
        std::size_t dot = number.find('.');
        std::string_view whole = number.substr(0, dot);
        std::string_view fraction = dot == std::string_view::npos ? std::string_view{} : number.substr(dot + 1);
        if (number.empty() || (whole.empty() && fraction.empty()) || fraction.find('.') != std::string_view::npos ||
            fraction.size() > 6)
            throw bad();
        // The unit; a bare number alone is seconds, as ipmitool's `chassis identify 5`.
        uint64_t factor = 0;
        for (auto [unit, ms] : {std::pair<std::string_view, uint64_t>{"ms", 1}, {"s", 1000}, {"m", 60000},
                                {"h", 3600000}}) {
            if (rest.starts_with(unit)) {
                factor = ms;
                rest.remove_prefix(unit.size());
                break;
            }
        }
        if (factor == 0) {
            if (!rest.empty() || total != 0 || number.size() != text.size()) throw bad();
            factor = 1000;
        }
        uint64_t value = 0, parts = 0;
        if (!whole.empty() && !parse_unsigned(whole, value)) throw bad();
        if (!fraction.empty() && !parse_unsigned(fraction, parts)) throw bad();
        uint64_t scale = 1;
        for (std::size_t i = 0; i < fraction.size(); ++i) scale *= 10;
        if (value > UINT32_MAX) throw std::invalid_argument(fmt::format("duration \"{}\" is too long", text));
        if (parts * factor % scale != 0)
            throw std::invalid_argument(fmt::format("duration \"{}\" is finer than a millisecond", text));
        total += value * factor + parts * factor / scale;
        if (total > UINT32_MAX)
            throw std::invalid_argument(
                fmt::format("duration \"{}\" is too long (at most {} ms, about 49 days)", text, UINT32_MAX));
    }
    if (total == 0)
        throw std::invalid_argument(fmt::format(
            "duration \"{}\" is zero: leave out --for to set the mode until it is changed", text));
    return static_cast<uint32_t>(total);
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
    for (const auto& mode : velk::protocol::kIndicatorModes)
        if (text == mode.name || (!mode.alias.empty() && text == mode.alias)) return mode.value;
    uint64_t value = 0;
    if (!parse_unsigned(text, value) || value > 255)
        throw std::invalid_argument(
            fmt::format("\"{}\" is not a mode (0 to 255, off, on, slow or fast)", text));
    return static_cast<uint8_t>(value);
}

} // namespace velk::cli
