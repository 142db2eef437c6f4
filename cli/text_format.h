// Text for people: aligned tables, the inventory tree, hex dumps and the
// small value formats they share.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "objects.h"

namespace velk::cli {

using namespace velk::client;

// How a listing is printed: aligned columns (the default) or comma-separated
// values, with or without the line of titles.
struct TableStyle {
    bool csv = false;
    bool header = true;
};

// Columns aligned to their widest cell; numeric columns are right-aligned.
// Every cell is made terminal-safe (control characters escaped).
class Table {
public:
    enum class Align { left, right };
    struct Column {
        std::string title;
        Align align = Align::left;
    };
    explicit Table(std::vector<Column> columns) : columns_(std::move(columns)) {}
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    std::string render(const TableStyle& style = {}) const;

private:
    std::vector<Column> columns_;
    std::vector<std::vector<std::string>> rows_;
};

// The shortest text that reads back as the same float.
std::string format_number(float value);
// desc bytes in hex, trailing zero bytes left out ("-" when all are zero).
std::string format_desc(const Desc& desc);
std::string format_properties(const Properties& properties); // "a=1, b=2"
// Mode names by the usual convention: 0 off, 1 on, 2 slow blink, 3 fast blink.
std::string mode_name(int mode);
std::string format_duration_ms(uint32_t ms); // "1500 ms", "10 s"
// The names of the thresholds that the reading is at or beyond ("lcr,lnc"), or "-".
std::string crossed_text(uint8_t state);
// The state word ("critical"); beside it the crossed thresholds when there are any.
std::string state_text(uint8_t state);

// `hexdump -C` style: offset, 16 bytes in hex, and the printable characters.
std::string hex_dump(std::span<const uint8_t> bytes, uint32_t first_offset);

std::string sensor_table(const std::vector<SensorRow>& rows, const TableStyle& style = {});
std::string sensor_details(const SensorDesc& sensor, const SensorReading& reading, const Thresholds& normalized);
std::string indicator_table(const std::vector<IndicatorRow>& rows, const TableStyle& style = {});
std::string fru_table(const std::vector<FruDesc>& frus, const TableStyle& style = {});
std::string component_table(const std::vector<ComponentDesc>& components, const TableStyle& style = {});
std::string association_table(const std::vector<AssociationDesc>& associations, const TableStyle& style = {});
std::string platform_text(const PlatformNames& names);
// The tree with one line per node: its last path element, what it is (its
// kind's name), the entity its desc bytes name and the bytes themselves, and
// (on request) its properties beneath it.
std::string tree_text(const TreeNode& root, bool with_properties);

} // namespace velk::cli
