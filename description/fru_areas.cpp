#include "fru_areas.h"

#include <fmt/format.h>

#include <initializer_list>
#include <utility>

namespace velkd {
namespace {

constexpr uint8_t kFormatVersion = 1;
constexpr uint8_t kTextType = 0xC0; // 8-bit text; the low six bits hold the length
constexpr uint8_t kEndOfFields = 0xC1;

uint8_t zero_sum_checksum(const std::vector<uint8_t>& bytes) {
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    return static_cast<uint8_t>(0x100 - (sum & 0xFF));
}

class AreaWriter {
public:
    explicit AreaWriter(const char* area) : area_(area), bytes_{kFormatVersion, 0} {}
    void byte(uint8_t b) { bytes_.push_back(b); }
    void text(const char* field, const std::string& value) {
        if (value.size() > 0x3F)
            throw std::invalid_argument(fmt::format("{} {}: {} bytes, at most 63", area_, field, value.size()));
        bytes_.push_back(static_cast<uint8_t>(kTextType | value.size()));
        bytes_.insert(bytes_.end(), value.begin(), value.end());
    }
    void extra(const std::vector<std::string>& values) {
        for (const std::string& value : values) text("extra", value);
    }
    // End marker, zero padding to a multiple of 8 with the checksum, the length.
    std::vector<uint8_t> finish() {
        bytes_.push_back(kEndOfFields);
        while ((bytes_.size() + 1) % 8 != 0) bytes_.push_back(0);
        bytes_[1] = static_cast<uint8_t>((bytes_.size() + 1) / 8);
        bytes_.push_back(zero_sum_checksum(bytes_));
        return std::move(bytes_);
    }

private:
    const char* area_;
    std::vector<uint8_t> bytes_;
};

// An info area: its leading bytes, its text fields in order, the extra
// fields, then the end marker, padding and checksum.
template <typename Area>
std::vector<uint8_t> info_area(const char* kind, std::initializer_list<uint8_t> lead, const Area& area,
                               std::initializer_list<std::pair<const char*, std::string Area::*>> fields) {
    AreaWriter w(kind);
    for (uint8_t b : lead) w.byte(b);
    for (const auto& [field, member] : fields) w.text(field, area.*member);
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
    int64_t days = days_from_civil(year, month, day) - days_from_civil(1996, 1, 1);
    return days * 1440 + hour * 60 + minute;
}

std::vector<uint8_t> build_fru_image(const FruAreas& areas) {
    std::vector<std::vector<uint8_t>> built(3);
    if (const auto& c = areas.chassis)
        built[0] = info_area("chassis", {c->type}, *c,
                             {{"part_number", &ChassisArea::part_number}, {"serial", &ChassisArea::serial}});
    if (const auto& b = areas.board)
        built[1] = info_area("board",
                             {b->language, static_cast<uint8_t>(b->mfg_minutes), static_cast<uint8_t>(b->mfg_minutes >> 8),
                              static_cast<uint8_t>(b->mfg_minutes >> 16)},
                             *b,
                             {{"manufacturer", &BoardArea::manufacturer},
                              {"product", &BoardArea::product},
                              {"serial", &BoardArea::serial},
                              {"part_number", &BoardArea::part_number},
                              {"file_id", &BoardArea::file_id}});
    if (const auto& p = areas.product)
        built[2] = info_area("product", {p->language}, *p,
                             {{"manufacturer", &ProductArea::manufacturer},
                              {"name", &ProductArea::name},
                              {"part_number", &ProductArea::part_number},
                              {"version", &ProductArea::version},
                              {"serial", &ProductArea::serial},
                              {"asset_tag", &ProductArea::asset_tag},
                              {"file_id", &ProductArea::file_id}});
    // Header: version, internal use, chassis, board, product, multirecord, pad, checksum.
    std::vector<uint8_t> image = {kFormatVersion, 0, 0, 0, 0, 0, 0};
    std::size_t offset = 8;
    for (std::size_t i = 0; i < built.size(); ++i) {
        if (built[i].empty()) continue;
        if (offset / 8 > 0xFF) throw std::invalid_argument("the areas together exceed 2040 bytes");
        image[2 + i] = static_cast<uint8_t>(offset / 8);
        offset += built[i].size();
    }
    image.push_back(zero_sum_checksum(image));
    for (const auto& area : built) image.insert(image.end(), area.begin(), area.end());
    return image;
}

} // namespace velkd
