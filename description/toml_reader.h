// The general layer under the description's schema: reading one TOML table
// with every problem placed at its file:line:column, typed values with their
// ranges, keys nobody asked for reported as unknown, and names kept unique.
// It knows nothing of sensors or FRUs.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>
#include <toml++/toml.h>

#include "description_loader.h"

namespace velkd::toml_reading {

// "a string", "an integer", ... for messages.
std::string_view type_name(const toml::node& node);

// "file:line:column: context: problem".
std::string at(const std::string& source, const toml::source_region& where, std::string_view context,
               std::string_view problem);

// Reads one TOML table, remembering which keys were asked for, so that every
// key left over afterwards is reported as unknown with its own line. A
// problem throws LoadError; the schema decides where reading goes on.
class Reader {
public:
    Reader(const std::string& source, const toml::table& table, std::string context)
        : source_(source), table_(table), context_(std::move(context)) {}

    // For a table that stands for many (`count`): every "{n}" in its strings
    // reads as `n`.
    void set_number(std::string n) { n_ = std::move(n); }

    void set_context(std::string context) { context_ = std::move(context); }
    const std::string& context() const { return context_; }

    [[noreturn]] void fail_at(const toml::source_region& where, std::string_view problem) const;
    [[noreturn]] void fail(std::string_view problem) const { fail_at(table_.source(), problem); }

    const toml::node* find(std::string_view key);
    const toml::node& need(std::string_view key);
    // Every key not asked for, each a problem of its own.
    void finish() const;

    // Typed values. A string never holds a NUL (no call could name it) and
    // is at most `most` bytes; a number is kept as a float, so NaN, the
    // infinities and values beyond a float's range are refused.
    std::string string(std::string_view key, const toml::node& node, std::size_t most = kMaxStringBytes) const;
    int64_t integer(std::string_view key, const toml::node& node, int64_t lo, int64_t hi) const;
    double number(std::string_view key, const toml::node& node) const;
    bool boolean(std::string_view key, const toml::node& node) const;
    const toml::table& table(std::string_view key, const toml::node& node) const;
    const toml::array& array(std::string_view key, const toml::node& node) const;
    uint8_t byte(std::string_view key, const toml::node& node) const {
        return static_cast<uint8_t>(integer(key, node, 0, 255));
    }
    std::vector<uint8_t> bytes(std::string_view key, const toml::node& node, std::size_t most) const;

    // Keys that may be absent.
    std::string string_or(std::string_view key, std::string fallback);
    int64_t integer_or(std::string_view key, int64_t lo, int64_t hi, int64_t fallback);
    bool boolean_or(std::string_view key, bool fallback);
    std::string required_string(std::string_view key);
    double required_number(std::string_view key) { return number(key, need(key)); }

    // A nested table read with the same context.
    Reader nested(std::string_view key);

    const toml::table& raw() const { return table_; }
    const std::string& source() const { return source_; }

private:
    [[noreturn]] void wrong_type(std::string_view key, const toml::node& node, std::string_view want) const;

    const std::string& source_;
    const toml::table& table_;
    std::string context_;
    std::string n_;
    std::set<std::string, std::less<>> seen_;
};

// Keeps names and numbers unique; reports the clash at the second use.
template <typename Key>
class UniqueSet {
public:
    explicit UniqueSet(std::string what) : what_(std::move(what)) {}
    template <typename Show>
    void add(Reader& reader, const Key& key, Show&& show, const std::string& owner) {
        auto [it, fresh] = first_.emplace(key, owner);
        if (!fresh) reader.fail(fmt::format("duplicate {} {} (first used by {})", what_, show(key), it->second));
    }

private:
    std::string what_;
    std::map<Key, std::string> first_;
};

} // namespace velkd::toml_reading
