#include "toml_reader.h"

#include <cmath>
#include <limits>

namespace velkd::toml_reading {

std::string_view type_name(const toml::node& node) {
    switch (node.type()) {
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "an array";
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a float";
    case toml::node_type::boolean: return "a boolean";
    default: return "a date or time";
    }
}

std::string at(const std::string& source, const toml::source_region& where, std::string_view context,
               std::string_view problem) {
    return fmt::format("{}:{}:{}: {}{}{}", source, where.begin.line, where.begin.column, context,
                       context.empty() ? "" : ": ", problem);
}

void Reader::fail_at(const toml::source_region& where, std::string_view problem) const {
    throw LoadError(at(source_, where, context_, problem));
}

const toml::node* Reader::find(std::string_view key) {
    seen_.emplace(key);
    return table_.get(key);
}

const toml::node& Reader::need(std::string_view key) {
    const toml::node* node = find(key);
    if (node == nullptr) fail(fmt::format("missing key '{}'", key));
    return *node;
}

void Reader::finish() const {
    std::vector<std::string> unknown;
    for (auto&& [key, value] : table_)
        if (!seen_.contains(key.str()))
            unknown.push_back(at(source_, key.source(), context_, fmt::format("unknown key '{}'", key.str())));
    if (!unknown.empty()) throw LoadError(fmt::format("{}", fmt::join(unknown, "\n")), std::move(unknown), false);
}

std::string Reader::string(std::string_view key, const toml::node& node, std::size_t most) const {
    if (!node.is_string()) wrong_type(key, node, "a string");
    const std::string& value = node.as_string()->get();
    if (value.find('\0') != std::string::npos)
        fail_at(node.source(), fmt::format("'{}' must not contain a NUL character", key));
    std::string out = value;
    if (!n_.empty())
        for (std::size_t at = out.find("{n}"); at != std::string::npos; at = out.find("{n}", at + n_.size()))
            out.replace(at, 3, n_);
    if (out.size() > most)
        fail_at(node.source(), fmt::format("'{}' is {} bytes long, at most {}", key, out.size(), most));
    return out;
}

int64_t Reader::integer(std::string_view key, const toml::node& node, int64_t lo, int64_t hi) const {
    if (!node.is_integer()) wrong_type(key, node, "an integer");
    int64_t value = node.as_integer()->get();
    if (value < lo || value > hi)
        fail_at(node.source(), fmt::format("'{}' is {}, must be {} to {}", key, value, lo, hi));
    return value;
}

double Reader::number(std::string_view key, const toml::node& node) const {
    if (node.is_integer()) return static_cast<double>(node.as_integer()->get());
    if (!node.is_floating_point()) wrong_type(key, node, "a number");
    double value = node.as_floating_point()->get();
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max())
        fail_at(node.source(), fmt::format("'{}' must be a finite number within a float's range", key));
    return value;
}

bool Reader::boolean(std::string_view key, const toml::node& node) const {
    if (!node.is_boolean()) wrong_type(key, node, "true or false");
    return node.as_boolean()->get();
}

const toml::table& Reader::table(std::string_view key, const toml::node& node) const {
    if (!node.is_table()) wrong_type(key, node, "a table");
    return *node.as_table();
}

const toml::array& Reader::array(std::string_view key, const toml::node& node) const {
    if (!node.is_array()) wrong_type(key, node, "an array");
    return *node.as_array();
}

std::vector<uint8_t> Reader::bytes(std::string_view key, const toml::node& node, std::size_t most) const {
    const toml::array& items = array(key, node);
    if (items.size() > most)
        fail_at(node.source(), fmt::format("'{}' holds {} bytes, at most {}", key, items.size(), most));
    std::vector<uint8_t> out;
    for (const toml::node& item : items) out.push_back(byte(key, item));
    return out;
}

std::string Reader::string_or(std::string_view key, std::string fallback) {
    const toml::node* node = find(key);
    return node ? string(key, *node) : fallback;
}

int64_t Reader::integer_or(std::string_view key, int64_t lo, int64_t hi, int64_t fallback) {
    const toml::node* node = find(key);
    return node ? integer(key, *node, lo, hi) : fallback;
}

bool Reader::boolean_or(std::string_view key, bool fallback) {
    const toml::node* node = find(key);
    return node ? boolean(key, *node) : fallback;
}

std::string Reader::required_string(std::string_view key) {
    const toml::node& node = need(key);
    std::string value = string(key, node);
    if (value.empty()) fail_at(node.source(), fmt::format("'{}' must not be empty", key));
    return value;
}

Reader Reader::nested(std::string_view key) {
    Reader out(source_, table(key, need(key)), fmt::format("{}: {}", context_, key));
    out.n_ = n_;
    return out;
}

void Reader::wrong_type(std::string_view key, const toml::node& node, std::string_view want) const {
    fail_at(node.source(), fmt::format("'{}' must be {}, not {}", key, want, type_name(node)));
}

} // namespace velkd::toml_reading
