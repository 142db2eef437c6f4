#include "fru_areas.h"

#include <fmt/format.h>

#include <initializer_list>
#include <string_view>
#include <utility>

#include "fru_layout.h"

namespace velkd {
namespace {

namespace fru = velk::protocol::fru;
using fru::kEndOfFields;
using fru::kFormatVersion;
using fru::kTextType;
using fru::zero_sum_checksum;

class AreaWriter {
public:
    explicit AreaWriter(const char* area) : area_(area), bytes_{kFormatVersion, 0} {}
    void byte(uint8_t b) { bytes_.push_back(b); }
    void text(std::string_view field, const std::string& value) {
        if (value.size() > fru::kMaxFieldBytes)
            throw std::invalid_argument(
                fmt::format("{} {}: {} bytes, at most {}", area_, field, value.size(), fru::kMaxFieldBytes));
        bytes_.push_back(static_cast<uint8_t>(kTextType | value.size()));
        bytes_.insert(bytes_.end(), value.begin(), value.end());
    }
    void extra(const std::vector<std::string>& values) {
        for (const std::string& value : values) text("extra", value);
    }
    // End marker, zero padding to a multiple of 8 with the checksum, the length.
    std::vector<uint8_t> finish() {
        bytes_.push_back(kEndOfFields);
        while ((bytes_.size() + 1) % fru::kUnitBytes != 0) bytes_.push_back(0);
        bytes_[1] = static_cast<uint8_t>((bytes_.size() + 1) / fru::kUnitBytes);
        bytes_.push_back(zero_sum_checksum(bytes_));
        return std::move(bytes_);
    }

private:
    const char* area_;
    std::vector<uint8_t> bytes_;
};

// Where each area keeps the field the layout names `key`.
std::string ChassisArea::*member(const ChassisArea*, std::string_view key) {
    return key == "part_number" ? &ChassisArea::part_number : &ChassisArea::serial;
}
std::string BoardArea::*member(const BoardArea*, std::string_view key) {
    return key == "manufacturer" ? &BoardArea::manufacturer
         : key == "product"      ? &BoardArea::product
         : key == "serial"       ? &BoardArea::serial
         : key == "part_number"  ? &BoardArea::part_number
                                 : &BoardArea::file_id;
}
std::string ProductArea::*member(const ProductArea*, std::string_view key) {
    return key == "manufacturer" ? &ProductArea::manufacturer
         : key == "name"         ? &ProductArea::name
         : key == "part_number"  ? &ProductArea::part_number
         : key == "version"      ? &ProductArea::version
         : key == "serial"       ? &ProductArea::serial
         : key == "asset_tag"    ? &ProductArea::asset_tag
                                 : &ProductArea::file_id;
}

// An info area: its leading bytes, its text fields in the layout's order,
// the extra fields, then the end marker, padding and checksum.
template <typename Area, std::size_t N>
std::vector<uint8_t> info_area(fru::Area kind, std::initializer_list<uint8_t> lead, const Area& area,
                               const std::array<fru::Field, N>& fields) {
    AreaWriter w(fru::kAreaNames[static_cast<std::size_t>(kind)].data());
    for (uint8_t b : lead) w.byte(b);
    for (const fru::Field& field : fields) w.text(field.key, area.*member(&area, field.key));
    w.extra(area.extra);
    return w.finish();
}

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    unsigned yoe = static_cast<unsigned>(y - era * 400);
    unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

} // namespace

int64_t fru_minutes(int year, unsigned month, unsigned day, unsigned hour, unsigned minute) {
    return days_from_civil(year, month, day) * 1440 + hour * 60 + minute - fru::kEpochUnixSeconds / 60;
}

std::vector<uint8_t> build_fru_image(const FruAreas& areas) {
    std::vector<std::vector<uint8_t>> built(3);
    if (const auto& c = areas.chassis)
        built[0] = info_area(fru::Area::chassis, {c->type}, *c, fru::kChassisFields);
    if (const auto& b = areas.board)
        built[1] = info_area(fru::Area::board,
                             {b->language, static_cast<uint8_t>(b->mfg_minutes), static_cast<uint8_t>(b->mfg_minutes >> 8),
                              static_cast<uint8_t>(b->mfg_minutes >> 16)},
                             *b, fru::kBoardFields);
    if (const auto& p = areas.product)
        built[2] = info_area(fru::Area::product, {p->language}, *p, fru::kProductFields);
    // Header: version, internal use, chassis, board, product, multirecord, pad, checksum.
    std::vector<uint8_t> image = {kFormatVersion, 0, 0, 0, 0, 0, 0};
    std::size_t offset = fru::kHeaderBytes;
    for (std::size_t i = 0; i < built.size(); ++i) {
        if (built[i].empty()) continue;
        if (offset / fru::kUnitBytes > 0xFF) throw std::invalid_argument("the areas together exceed 2040 bytes");
        image[1 + static_cast<std::size_t>(fru::Area::chassis) + i] = static_cast<uint8_t>(offset / fru::kUnitBytes);
        offset += built[i].size();
    }
    image.push_back(zero_sum_checksum(image));
    for (const auto& area : built) image.insert(image.end(), area.begin(), area.end());
    return image;
}

} // namespace velkd
