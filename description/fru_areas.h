// FRU data built from fields: the common header and the chassis, board and
// product info areas in the layout most platforms of this kind use (format
// version 1, offsets and lengths in 8-byte units, type/length-coded text
// fields ended by 0xC1, a zero-sum checksum closing the header and each area).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velkd {

struct ChassisArea {
    uint8_t type = 0x17; // rack mount chassis
    std::string part_number, serial;
    std::vector<std::string> extra;
};

struct BoardArea {
    uint8_t language = 0;     // 0: English
    uint32_t mfg_minutes = 0; // since 1996-01-01 00:00 UTC; 0: unspecified
    std::string manufacturer, product, serial, part_number, file_id;
    std::vector<std::string> extra;
};

struct ProductArea {
    uint8_t language = 0;
    std::string manufacturer, name, part_number, version, serial, asset_tag, file_id;
    std::vector<std::string> extra;
};

struct FruAreas {
    std::optional<ChassisArea> chassis;
    std::optional<BoardArea> board;
    std::optional<ProductArea> product;
    bool empty() const { return !chassis && !board && !product; }
};

// The bytes of the header and the areas given, in the order chassis, board,
// product. Throws std::invalid_argument for a field above 63 bytes (the most
// a type/length byte can say) or an image above 2040 bytes.
std::vector<uint8_t> build_fru_image(const FruAreas& areas);

// Minutes since 1996-01-01 00:00 UTC of a civil date and time (UTC).
int64_t fru_minutes(int year, unsigned month, unsigned day, unsigned hour, unsigned minute);

} // namespace velkd
