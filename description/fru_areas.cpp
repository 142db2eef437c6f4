#include "fru_areas.h"

#include <fmt/format.h>

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
    if (areas.chassis) {
        AreaWriter w("chassis");
        w.byte(areas.chassis->type);
        w.text("part_number", areas.chassis->part_number);
        w.text("serial", areas.chassis->serial);
        w.extra(areas.chassis->extra);
        built[0] = w.finish();
    }
    if (const auto& b = areas.board) {
        AreaWriter w("board");
        w.byte(b->language);
        for (int shift : {0, 8, 16}) w.byte(static_cast<uint8_t>(b->mfg_minutes >> shift));
        w.text("manufacturer", b->manufacturer);
        w.text("product", b->product);
        w.text("serial", b->serial);
        w.text("part_number", b->part_number);
        w.text("file_id", b->file_id);
        w.extra(b->extra);
        built[1] = w.finish();
    }
    if (const auto& p = areas.product) {
        AreaWriter w("product");
        w.byte(p->language);
        w.text("manufacturer", p->manufacturer);
        w.text("name", p->name);
        w.text("part_number", p->part_number);
        w.text("version", p->version);
        w.text("serial", p->serial);
        w.text("asset_tag", p->asset_tag);
        w.text("file_id", p->file_id);
        w.extra(p->extra);
        built[2] = w.finish();
    }
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
