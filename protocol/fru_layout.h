// The FRU data layout that velkd-sim builds (description/fru_areas.cpp) and
// velkdirect decodes (cli/fru_decode.cpp): a common header of 8 bytes
// (format version, the offsets of five areas in 8-byte units, a checksum),
// then info areas of type/length-coded fields, each ending in the
// end-of-fields marker, zero padding and a checksum. Every checksum makes its
// bytes sum to 0 modulo 256.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace velk::protocol::fru {

inline constexpr std::uint8_t kFormatVersion = 1;
inline constexpr std::size_t kHeaderBytes = 8;
inline constexpr std::size_t kUnitBytes = 8; // offsets and lengths count 8-byte units

// The areas in the header's order: header byte 1 + Area is its offset.
enum class Area : std::uint8_t { internal_use, chassis, board, product, multirecord };
inline constexpr std::array<std::string_view, 5> kAreaNames = {"internal use", "chassis", "board", "product",
                                                              "multirecord"};

// A field's type/length byte: the type in the top two bits, the length in the
// low six. Type 3 is 8-bit text.
inline constexpr std::uint8_t kTextType = 0xC0;
inline constexpr std::uint8_t kLengthMask = 0x3F;
inline constexpr std::size_t kMaxFieldBytes = kLengthMask;
inline constexpr std::uint8_t kEndOfFields = 0xC1;

// The board area's manufacturing time: minutes since this moment (1996-01-01
// 00:00 UTC, in seconds since 1970), three bytes, least significant first.
inline constexpr std::int64_t kEpochUnixSeconds = 820454400;

// The fixed text fields of each info area, in order; custom ("extra") fields
// follow them. `key` names a field in the description file and the JSON
// output, `label` in the text output.
struct Field {
    std::string_view key;
    std::string_view label;
};
inline constexpr std::array<Field, 2> kChassisFields = {{{"part_number", "Chassis Part Number"},
                                                        {"serial", "Chassis Serial"}}};
inline constexpr std::array<Field, 5> kBoardFields = {{{"manufacturer", "Board Mfg"},
                                                      {"product", "Board Product"},
                                                      {"serial", "Board Serial"},
                                                      {"part_number", "Board Part Number"},
                                                      {"file_id", "Board FRU File ID"}}};
inline constexpr std::array<Field, 7> kProductFields = {{{"manufacturer", "Product Manufacturer"},
                                                        {"name", "Product Name"},
                                                        {"part_number", "Product Part Number"},
                                                        {"version", "Product Version"},
                                                        {"serial", "Product Serial"},
                                                        {"asset_tag", "Product Asset Tag"},
                                                        {"file_id", "Product FRU File ID"}}};

// The bytes before an info area's first field: version and length, then the
// chassis type; or the language; or the language and the three-byte time.
inline constexpr std::size_t kChassisLeadBytes = 3;
inline constexpr std::size_t kBoardLeadBytes = 6;
inline constexpr std::size_t kProductLeadBytes = 3;

// The sum of the bytes modulo 256: 0 for a header or area whose checksum is right.
constexpr std::uint8_t byte_sum(std::span<const std::uint8_t> bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    return static_cast<std::uint8_t>(sum);
}

// The checksum byte that makes `bytes` and it sum to 0.
constexpr std::uint8_t zero_sum_checksum(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint8_t>(0x100 - byte_sum(bytes));
}

} // namespace velk::protocol::fru
