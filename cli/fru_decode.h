// FRU data in the layout that most platforms of this kind use (the IPMI
// platform management FRU format): a common header of 8 bytes (format
// version, area offsets in 8-byte units, checksum) and chassis, board and
// product info areas of type/length-coded fields, each area ending in a
// checksum. Decoding never throws on bad data: what cannot be decoded is
// kept as hex with the reason, and every problem is listed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "json_format.h"

namespace velk::cli {

using namespace velk::client;

struct FruField {
    std::string name;     // "Board Serial"
    std::string key;      // "serial", the JSON key
    std::string encoding; // "text", "bcd+", "6-bit ascii", "binary"
    std::string value;    // decoded text; hex for binary
};

struct FruChecksum {
    uint8_t stored = 0;
    uint8_t sum = 0; // of every byte of the area or header, 0 when it is right
    bool ok() const { return sum == 0; }
};

struct FruArea {
    std::string kind;   // "internal use", "chassis", "board", "product", "multirecord"
    uint32_t offset = 0; // in bytes
    uint32_t length = 0; // in bytes, as the area says (0 when unknown)
    uint8_t version = 0;
    std::optional<FruChecksum> checksum;
    std::optional<uint8_t> language;      // board and product
    std::optional<uint32_t> mfg_minutes;  // board: minutes since 1996-01-01 00:00 UTC
    std::optional<uint8_t> chassis_type;  // chassis
    std::vector<FruField> fields;         // in area order, custom fields last
    std::string problem;                  // why it could not be decoded; empty when it was
    std::vector<uint8_t> bytes;           // the undecodable area (or what could be had of it)
};

struct FruImage {
    bool has_header = false;
    uint8_t version = 0;
    FruChecksum header_checksum;
    std::vector<FruArea> areas; // in the header's order: internal use, chassis, board, product, multirecord
    std::vector<std::string> problems; // bad checksums and undecodable areas, in words
};

FruImage decode_fru(std::span<const uint8_t> data);

// Text for people, in the manner of `ipmitool fru print`, and JSON.
std::string fru_image_text(const std::string& name, const FruImage& image);
Json to_json(const FruImage& image);

// Names that the format gives numbers.
std::string language_name(uint8_t code);       // "en", "de", ...; 0 is English
std::string chassis_type_name(uint8_t type);   // "Rack Mount Chassis"

} // namespace velk::cli
