#include "text_format.h"
#include "protocol_tables.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>

#include "codes.h"
#include "sensor_state.h"
#include "text_escape.h"

namespace velk::cli {
namespace {

// Columns on a terminal: UTF-8 continuation bytes take none.
std::size_t display_width(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string pad(std::string_view text, std::size_t width, Table::Align align) {
    std::string fill(width - std::min(width, display_width(text)), ' ');
    return align == Table::Align::left ? std::string(text) + fill : fill + std::string(text);
}

// "key  value" lines with the keys in one column.
class Details {
public:
    void add(std::string key, std::string value) { lines_.emplace_back(std::move(key), std::move(value)); }
    std::string render() const {
        std::size_t width = 0;
        for (const auto& line : lines_) width = std::max(width, line.first.size());
        std::string out;
        for (const auto& [key, value] : lines_)
            out += fmt::format("{:<{}}  {}\n", terminal_safe(key), width, terminal_safe(value));
        return out;
    }

private:
    std::vector<std::pair<std::string, std::string>> lines_;
};

std::string with_unit(float value, const Properties& properties) {
    auto unit = find_property(properties, "unit");
    return unit ? fmt::format("{} {}", format_number(value), *unit) : format_number(value);
}

// A threshold the sensor does not have (NaN) is "na".
std::string threshold_text(float value) { return std::isnan(value) ? "na" : format_number(value); }

std::string threshold_list(const Thresholds& thresholds) {
    std::string out;
    for (std::size_t i = 0; i < thresholds.size(); ++i)
        out += fmt::format("{}{} {}", i ? "  " : "", kThresholdNames[i], threshold_text(thresholds[i]));
    return out;
}

// With polling off daemon-wide no sensor is polled, whatever its own setting.
std::string polling_text(const SensorReading& r) {
    if (!r.daemon_polling()) return "off (daemon-wide)";
    return r.polled() ? fmt::format("{} ms", r.poll_interval_ms) : "off";
}

std::string key_text(const EntityKey& key) { return entity_text(key.key0, key.key1); }

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string& cell) {
    if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
    std::string out = "\"";
    for (char c : cell) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string yes_no(bool value) { return value ? "yes" : "no"; }

// "temperature", or "0x2a" where no name is defined.
std::string type_word(uint8_t type) {
    auto name = sensor_type_name(type);
    return name ? std::string(*name) : fmt::format("{:#04x}", type);
}

// "sensor", or "kind 9" where no name is defined.
std::string kind_text(uint32_t kind) {
    auto name = kind_name(kind);
    return name ? std::string(*name) : fmt::format("kind {}", kind);
}

// The entity the desc bytes start with, and the bytes: "processor 1 (03 01 01 01)".
std::string desc_text(const Desc& desc) {
    std::string bytes = format_desc(desc);
    if (desc[0] == 0 || !entity_name(desc[0])) return bytes == "-" ? bytes : "desc " + bytes;
    return fmt::format("{} (desc {})", entity_text(desc[0], desc[1]), bytes);
}

// The part of a node's path below its parent's; the whole path when the node
// does not sit under its parent's path (nodes the walk could not place).
std::string node_label(const TreeNode& node, const TreeNode& parent) {
    std::string prefix = parent.path + "/";
    if (node.path.size() > prefix.size() && node.path.starts_with(prefix)) return node.path.substr(prefix.size());
    return node.path;
}

struct TreeLine {
    std::string prefix; // branch drawing
    std::string label;
    const TreeNode* node;
    std::string property_prefix; // drawing for the lines under this node
};

void collect_lines(const TreeNode& parent, const std::string& prefix, std::vector<TreeLine>& lines) {
    for (std::size_t i = 0; i < parent.children.size(); ++i) {
        const TreeNode& child = *parent.children[i];
        bool last = i + 1 == parent.children.size();
        std::string below = prefix + (last ? "    " : "│   ");
        lines.push_back({prefix + (last ? "└── " : "├── "), node_label(child, parent), &child,
                         below + (child.children.empty() ? "  " : "│ ")});
        collect_lines(child, below, lines);
    }
}

} // namespace

std::string Table::render(const TableStyle& style) const {
    std::vector<std::vector<std::string>> rows;
    for (const auto& row : rows_) {
        std::vector<std::string> safe;
        for (std::size_t i = 0; i < columns_.size(); ++i) safe.push_back(i < row.size() ? terminal_safe(row[i]) : "");
        rows.push_back(std::move(safe));
    }
    if (style.csv) {
        std::string out;
        auto line = [&](auto cell) {
            for (std::size_t i = 0; i < columns_.size(); ++i) {
                if (i) out += ',';
                out += csv_field(cell(i));
            }
            out += "\n";
        };
        if (style.header) line([&](std::size_t i) { return columns_[i].title; });
        for (const auto& row : rows) line([&](std::size_t i) { return row[i]; });
        return out;
    }
    std::vector<std::size_t> widths;
    for (const Column& c : columns_) widths.push_back(style.header ? display_width(c.title) : 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < widths.size(); ++i) widths[i] = std::max(widths[i], display_width(row[i]));
    auto line = [&](auto cell) {
        std::string out;
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            bool last = i + 1 == columns_.size();
            // A last left-aligned column needs no padding.
            std::size_t width = last && columns_[i].align == Align::left ? 0 : widths[i];
            out += pad(cell(i), width, columns_[i].align) + (last ? "" : "  ");
        }
        out.erase(out.find_last_not_of(' ') + 1); // an empty last cell leaves no trailing blanks
        return out + "\n";
    };
    std::string out = style.header ? line([&](std::size_t i) { return columns_[i].title; }) : std::string();
    for (const auto& row : rows) out += line([&](std::size_t i) { return row[i]; });
    return out;
}

std::string format_number(float value) { return fmt::format("{}", value); }

std::string format_desc(const Desc& desc) {
    auto end = std::find_if(desc.rbegin(), desc.rend(), [](uint8_t b) { return b != 0; }).base();
    if (end == desc.begin()) return "-";
    return fmt::format("{:02x}", fmt::join(desc.begin(), end, " "));
}

std::string format_properties(const Properties& properties) {
    std::vector<std::string> parts;
    for (const auto& [name, value] : properties) parts.push_back(fmt::format("{}={}", name, value));
    return fmt::format("{}", fmt::join(parts, ", "));
}

std::string mode_name(int mode) {
    for (const auto& named : velk::protocol::kIndicatorModes)
        if (named.value == mode) return std::string(named.words);
    return fmt::format("mode {}", mode);
}

std::string format_duration_ms(uint32_t ms) {
    if (ms % 1000 == 0) return fmt::format("{} s", ms / 1000);
    return fmt::format("{} ms", ms);
}

std::string crossed_text(uint8_t state) {
    std::vector<std::string_view> crossed = crossed_thresholds(state);
    return crossed.empty() ? "-" : fmt::format("{}", fmt::join(crossed, ","));
}

std::string state_text(uint8_t state) {
    std::string word(state_word(worst_state(state)));
    return state == 0 ? word : fmt::format("{} ({} crossed)", word, crossed_text(state));
}

std::string hex_dump(std::span<const uint8_t> bytes, uint32_t first_offset) {
    std::string out;
    for (std::size_t row = 0; row < bytes.size(); row += 16) {
        std::string hex, chars;
        for (std::size_t i = 0; i < 16; ++i) {
            if (i == 8) hex += ' ';
            if (row + i < bytes.size()) {
                uint8_t b = bytes[row + i];
                hex += fmt::format("{:02x} ", b);
                chars += (b >= 0x20 && b < 0x7f) ? static_cast<char>(b) : '.';
            } else {
                hex += "   ";
            }
        }
        out += fmt::format("{:08x}  {} |{}|\n", first_offset + row, hex, chars);
    }
    return out;
}

std::string sensor_table(const std::vector<SensorRow>& rows, const TableStyle& style) {
    using A = Table::Align;
    std::vector<Table::Column> columns = {{"ID"}, {"PATH"}, {"TYPE"}, {"RAW", A::right}, {"VALUE", A::right},
                                          {"UNIT"}, {"STATE"}, {"CROSSED"}};
    for (std::string threshold : kThresholdNames) {
        std::transform(threshold.begin(), threshold.end(), threshold.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        columns.push_back({threshold, A::right});
    }
    columns.push_back({"POLL", A::right});
    const std::size_t table_width = columns.size();
    Table table(std::move(columns));
    for (const auto& [sensor, r, error, status] : rows) {
        std::string unit = find_property(sensor.properties, "unit").value_or("");
        if (!error.empty()) {
            std::vector<std::string> row = {sensor.id, sensor.path, "-", "-", "-", unit, "error: " + error};
            row.resize(table_width, "");
            table.add(std::move(row));
            continue;
        }
        std::vector<std::string> row = {sensor.id,
                                        sensor.path,
                                        type_word(r.type),
                                        std::to_string(r.reading),
                                        format_number(r.value),
                                        unit,
                                        std::string(state_word(worst_state(r.threshold_state))),
                                        crossed_text(r.threshold_state)};
        for (float t : r.thresholds) row.push_back(threshold_text(t));
        row.push_back(polling_text(r));
        table.add(std::move(row));
    }
    return table.render(style);
}

std::string sensor_details(const SensorDesc& s, const SensorReading& r, const Thresholds& normalized) {
    Details d;
    d.add("sensor", fmt::format("{} (#{})", s.id, s.number));
    d.add("path", s.path);
    if (!s.note.empty()) d.add("note", s.note);
    d.add("kind", kind_text(s.kind));
    d.add("desc", desc_text(s.desc));
    d.add("type", sensor_type_text(r.type));
    for (const auto& [name, value] : s.properties) d.add(name, value);
    d.add("reading", fmt::format("{} (raw {})", with_unit(r.value, s.properties), r.reading));
    d.add("state", state_text(r.threshold_state));
    d.add("thresholds", threshold_list(r.thresholds));
    Thresholds shown = normalized; // with the same "na"
    for (std::size_t i = 0; i < shown.size(); ++i)
        if (std::isnan(r.thresholds[i])) shown[i] = r.thresholds[i];
    if (!std::equal(shown.begin(), shown.end(), r.thresholds.begin(), [](float a, float b) {
            return a == b || (std::isnan(a) && std::isnan(b));
        }))
        d.add("normalized", threshold_list(shown));
    d.add("hysteresis", fmt::format("+{} -{} (raw counts)", r.hysteresis_positive, r.hysteresis_negative));
    d.add("conversion", fmt::format("normal = {} * raw + {}", format_number(s.conversion.m), format_number(s.conversion.b)));
    std::string polling = r.polled() ? fmt::format("every {} ms", r.poll_interval_ms) : "off";
    if (!r.daemon_polling())
        polling = r.polled() ? fmt::format("off: daemon-wide polling is off (every {} ms when it is on)",
                                           r.poll_interval_ms)
                             : "off, and daemon-wide polling is off";
    else
        polling += ", daemon-wide polling on";
    d.add("polling", polling);
    d.add("overridden", yes_no(r.overridden()));
    return d.render();
}

std::string indicator_table(const std::vector<IndicatorRow>& rows, const TableStyle& style) {
    Table table({{"NAME"}, {"PATH"}, {"MODE"}, {"ACCEPTS"}, {"PROPERTIES"}});
    for (const auto& [ind, mode] : rows)
        table.add({ind.name, ind.path,
                   ind.timed ? fmt::format("{} ({}) for {} s more, then {} ({})", mode, mode_name(mode),
                                           ind.timed->seconds_left, ind.timed->lasting_mode,
                                           mode_name(ind.timed->lasting_mode))
                             : fmt::format("{} ({})", mode, mode_name(mode)),
                   fmt::format("{}", fmt::join(ind.modes, ",")), format_properties(ind.properties)});
    return table.render(style);
}

std::string fru_table(const std::vector<FruDesc>& frus, const TableStyle& style) {
    Table table({{"NAME"}, {"PATH"}, {"SIZE", Table::Align::right}, {"WRITABLE"}, {"PROPERTIES"}});
    for (const FruDesc& f : frus)
        table.add({f.name, f.path, std::to_string(f.size), yes_no(f.writable), format_properties(f.properties)});
    return table.render(style);
}

std::string component_table(const std::vector<ComponentDesc>& components, const TableStyle& style) {
    Table table({{"PATH"}, {"KIND"}, {"DESC"}, {"PROPERTIES"}});
    for (const ComponentDesc& c : components)
        table.add({c.path, kind_text(c.kind), desc_text(c.desc), format_properties(c.properties)});
    return table.render(style);
}

std::string association_table(const std::vector<AssociationDesc>& associations, const TableStyle& style) {
    Table table({{"ENTITY"}, {"WORD", Table::Align::right}, {"MEMBERS"}});
    for (const AssociationDesc& a : associations) {
        std::vector<std::string> members;
        for (const EntityKey& m : a.members) members.push_back(key_text(m));
        table.add({key_text(a.entity), std::to_string(a.word), fmt::format("{}", fmt::join(members, " "))});
    }
    return table.render(style);
}

std::string platform_text(const PlatformNames& names) {
    Details d;
    d.add("name", names.name);
    d.add("model", names.model);
    d.add("lead byte", fmt::format("{:#04x}", names.lead_byte));
    return d.render();
}

std::string tree_text(const TreeNode& root, bool with_properties) {
    std::vector<TreeLine> lines;
    collect_lines(root, "", lines);
    std::size_t width = 0;
    for (const TreeLine& l : lines) width = std::max(width, display_width(l.prefix) + display_width(l.label));
    std::string out = "/\n";
    for (const TreeLine& l : lines) {
        std::string head = pad(l.prefix + l.label, width, Table::Align::left);
        out += fmt::format("{}  {:<12}  {}\n", terminal_safe(head), kind_text(l.node->kind), desc_text(l.node->desc));
        if (with_properties)
            for (const auto& [name, value] : l.node->properties)
                out += fmt::format("{}{} = {}\n", l.property_prefix, terminal_safe(name), terminal_safe(value));
    }
    return out;
}

} // namespace velk::cli
