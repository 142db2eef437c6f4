#include "fru_decode.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <ctime>

#include "fru_layout.h"
#include "text_escape.h"

namespace velk::cli {
namespace {

namespace fru = velk::protocol::fru;
using fru::kEndOfFields;

std::string hex(std::span<const uint8_t> bytes) { return fmt::format("{:02x}", fmt::join(bytes, " ")); }

// Latin-1 as UTF-8; control characters as \xNN so that nothing can upset a terminal.
std::string latin1_text(std::span<const uint8_t> bytes) {
    std::string out;
    for (uint8_t b : bytes) {
        if (is_control_byte(b) || (b >= 0x80 && b < 0xA0)) {
            out += escaped_byte(b);
        } else if (b < 0x80) {
            out += static_cast<char>(b);
        } else {
            out += static_cast<char>(0xC0 | b >> 6);
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

// Digits, space, '-' and '.', high nibble first.
std::string bcd_plus_text(std::span<const uint8_t> bytes) {
    static constexpr char kChars[] = "0123456789 -.???";
    std::string out;
    for (uint8_t b : bytes) {
        out += kChars[b >> 4];
        out += kChars[b & 0x0F];
    }
    return out;
}

// Four characters in every three bytes, six bits each from the low bits up,
// each plus 0x20.
std::string six_bit_text(std::span<const uint8_t> bytes) {
    std::string out;
    std::size_t bits = bytes.size() * 8;
    for (std::size_t at = 0; at + 6 <= bits; at += 6) {
        unsigned value = 0;
        for (std::size_t i = 0; i < 6; ++i) {
            std::size_t bit = at + i;
            value |= static_cast<unsigned>((bytes[bit / 8] >> (bit % 8)) & 1) << i;
        }
        out += static_cast<char>(0x20 + value);
    }
    return out;
}

FruField decode_field(uint8_t type_length, std::span<const uint8_t> bytes) {
    FruField field;
    switch (type_length >> 6) {
    case 0:
        field.encoding = "binary";
        field.value = hex(bytes);
        break;
    case 1:
        field.encoding = "bcd+";
        field.value = bcd_plus_text(bytes);
        break;
    case 2:
        field.encoding = "6-bit ascii";
        field.value = six_bit_text(bytes);
        break;
    default:
        field.encoding = "text";
        field.value = latin1_text(bytes);
        break;
    }
    return field;
}

uint8_t sum_of(std::span<const uint8_t> bytes) { return fru::byte_sum(bytes); }

std::string capitalized(const std::string& kind) {
    std::string out = kind;
    if (!out.empty()) out[0] = static_cast<char>(out[0] - 'a' + 'A');
    return out;
}

// One chassis, board or product info area at `offset`.
FruArea decode_info_area(const std::string& kind, std::span<const uint8_t> data, uint32_t offset,
                         std::vector<std::string>& problems) {
    FruArea area;
    area.kind = kind;
    area.offset = offset;
    auto fail = [&](std::string why, std::span<const uint8_t> shown) {
        area.problem = std::move(why);
        area.bytes.assign(shown.begin(), shown.end());
        area.fields.clear();
        problems.push_back(fmt::format("{} area at offset {}: {}", kind, offset, area.problem));
        return area;
    };
    if (offset + 2 > data.size())
        return fail(fmt::format("it lies past the end of the {}-byte data", data.size()), {});
    area.version = data[offset] & 0x0F;
    area.length = uint32_t{data[offset + 1]} * fru::kUnitBytes;
    std::span<const uint8_t> rest = data.subspan(offset, std::min<std::size_t>(data.size() - offset, 64));
    if (area.version != fru::kFormatVersion)
        return fail(fmt::format("format version {} is not {}", area.version, fru::kFormatVersion), rest);
    // The leading bytes, the end marker and the checksum.
    std::size_t minimum = (kind == "board" ? fru::kBoardLeadBytes : fru::kChassisLeadBytes) + 2;
    if (area.length < minimum) return fail(fmt::format("its length, {} bytes, is too short", area.length), rest);
    if (offset + area.length > data.size())
        return fail(fmt::format("its {} bytes run past the end of the {}-byte data", area.length, data.size()), rest);
    std::span<const uint8_t> bytes = data.subspan(offset, area.length);
    area.checksum = FruChecksum{bytes.back(), sum_of(bytes)};
    if (!area.checksum->ok())
        problems.push_back(fmt::format("{} area at offset {}: checksum fails (stored {:#04x}, the area sums to "
                                       "{:#04x} instead of 0)",
                                       kind, offset, area.checksum->stored, area.checksum->sum));

    std::size_t at = 2;
    std::span<const fru::Field> names;
    if (kind == "chassis") {
        area.chassis_type = bytes[at++];
        names = fru::kChassisFields;
    } else if (kind == "board") {
        area.language = bytes[at++];
        area.mfg_minutes = uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16;
        at += 3;
        names = fru::kBoardFields;
    } else {
        area.language = bytes[at++];
        names = fru::kProductFields;
    }
    std::size_t end = bytes.size() - 1; // the checksum byte is no field
    std::size_t index = 0;
    bool ended = false;
    while (at < end) {
        uint8_t type_length = bytes[at];
        if (type_length == kEndOfFields) {
            ended = true;
            break;
        }
        std::size_t length = type_length & fru::kLengthMask;
        if (at + 1 + length > end)
            return fail(fmt::format("field {} ({} bytes) runs past the end of the area", index + 1, length), bytes);
        FruField field = decode_field(type_length, bytes.subspan(at + 1, length));
        if (index < names.size()) {
            field.name = names[index].label;
            field.key = names[index].key;
        } else {
            field.name = capitalized(kind) + " Extra";
            field.key = "extra";
        }
        area.fields.push_back(std::move(field));
        ++index;
        at += 1 + length;
    }
    if (!ended) return fail("no end-of-fields marker (0xc1) before the checksum", bytes);
    if (index < names.size())
        return fail(fmt::format("only {} of its {} fixed fields are present", index, names.size()), bytes);
    return area;
}

std::string mfg_date_text(uint32_t minutes) {
    if (minutes == 0) return "unspecified";
    std::time_t when = static_cast<std::time_t>(fru::kEpochUnixSeconds) + static_cast<std::time_t>(minutes) * 60;
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
    return text;
}

Json checksum_json(const FruChecksum& c) { return {{"ok", c.ok()}, {"stored", c.stored}, {"sum", c.sum}}; }

std::string checksum_text(const FruChecksum& c) {
    return c.ok() ? "checksum ok"
                  : fmt::format("checksum FAILS (stored {:#04x}; the bytes sum to {:#04x}, not 0)", c.stored, c.sum);
}

// An image whose common header cannot be decoded: the problem, and the
// header's bytes shown as they are.
FruImage refuse_header(FruImage image, std::span<const uint8_t> bytes, std::string problem) {
    image.problems.push_back(problem);
    FruArea area;
    area.kind = "common header";
    area.problem = std::move(problem);
    area.bytes.assign(bytes.begin(), bytes.end());
    image.areas.push_back(std::move(area));
    return image;
}

} // namespace

std::string language_name(uint8_t code) {
    // The format's numbering of the ISO 639 two-letter codes; 0 is English.
    static constexpr const char* kCodes[] = {
        "en", "aa", "ab", "af", "am", "ar", "as", "ay", "az", "ba", "be", "bg", "bh", "bi", "bn", "bo", "br", "ca",
        "co", "cs", "cy", "da", "de", "dz", "el", "en", "eo", "es", "et", "eu", "fa", "fi", "fj", "fo", "fr", "fy",
        "ga", "gd", "gl", "gn", "gu", "ha", "hi", "hr", "hu", "hy", "ia", "ie", "ik", "in", "is", "it", "iw", "ja",
        "ji", "jw", "ka", "kk", "kl", "km", "kn", "ko", "ks", "ku", "ky", "la", "ln", "lo", "lt", "lv", "mg", "mi",
        "mk", "ml", "mn", "mo", "mr", "ms", "mt", "my", "na", "ne", "nl", "no", "oc", "om", "or", "pa", "pl", "ps",
        "pt", "qu", "rm", "rn", "ro", "ru", "rw", "sa", "sd", "sg", "sh", "si", "sk", "sl", "sm", "sn", "so", "sq",
        "sr", "ss", "st", "su", "sv", "sw", "ta", "te", "tg", "th", "ti", "tk", "tl", "tn", "to", "tr", "ts", "tt",
        "tw", "uk", "ur", "uz", "vi", "vo", "wo", "xh", "yo", "zh", "zu"};
    if (code < std::size(kCodes)) return kCodes[code];
    return fmt::format("unknown ({})", code);
}

std::string chassis_type_name(uint8_t type) {
    static constexpr const char* kTypes[] = {
        "Unspecified",        "Other",           "Unknown",           "Desktop",
        "Low Profile Desktop", "Pizza Box",      "Mini Tower",        "Tower",
        "Portable",           "LapTop",          "Notebook",          "Hand Held",
        "Docking Station",    "All in One",      "Sub Notebook",      "Space-saving",
        "Lunch Box",          "Main Server Chassis", "Expansion Chassis", "SubChassis",
        "Bus Expansion Chassis", "Peripheral Chassis", "RAID Chassis", "Rack Mount Chassis",
        "Sealed-case PC",     "Multi-system Chassis", "Compact PCI",  "Advanced TCA",
        "Blade",              "Blade Enclosure", "Tablet",            "Convertible",
        "Detachable",         "IoT Gateway",     "Embedded PC",       "Mini PC",
        "Stick PC"};
    if (type < std::size(kTypes)) return kTypes[type];
    return "Unknown";
}

FruImage decode_fru(std::span<const uint8_t> data) {
    FruImage image;
    if (data.size() < fru::kHeaderBytes) {
        return refuse_header(std::move(image), data,
                             fmt::format("the data area holds {} bytes, fewer than the 8 of a common header",
                                         data.size()));
    }
    std::span<const uint8_t> header = data.first(fru::kHeaderBytes);
    image.version = header[0] & 0x0F;
    image.header_checksum = {header[7], sum_of(header)};
    if (std::all_of(header.begin(), header.end(), [](uint8_t b) { return b == 0xFF; })) {
        image.problems.push_back("no common header: the data area is blank (every byte 0xff)");
        return image;
    }
    if (image.version != fru::kFormatVersion || (header[0] & 0xF0) != 0) {
        return refuse_header(std::move(image), header,
                             fmt::format("common header: format byte {:#04x} is not version 1", header[0]));
    }
    image.has_header = true;
    if (!image.header_checksum.ok())
        image.problems.push_back(fmt::format("common header: checksum fails (stored {:#04x}, the header sums to "
                                             "{:#04x} instead of 0)",
                                             image.header_checksum.stored, image.header_checksum.sum));
    for (std::size_t i = 0; i < fru::kAreaNames.size(); ++i) {
        if (header[1 + i] == 0) continue;
        uint32_t offset = uint32_t{header[1 + i]} * fru::kUnitBytes;
        std::string kind(fru::kAreaNames[i]);
        if (kind == "chassis" || kind == "board" || kind == "product") {
            image.areas.push_back(decode_info_area(kind, data, offset, image.problems));
        } else {
            FruArea area; // present, but not an info area: its offset is shown, its bytes are left alone
            area.kind = kind;
            area.offset = offset;
            image.areas.push_back(std::move(area));
        }
    }
    return image;
}

std::string fru_image_text(const std::string& name, const FruImage& image) {
    std::string out;
    auto line = [&](const std::string& key, const std::string& value) {
        out += fmt::format("  {:<22}: {}\n", key, value);
    };
    if (!image.has_header) {
        out += fmt::format("FRU \"{}\": no decodable common header\n", name);
    } else {
        out += fmt::format("FRU \"{}\": common header, format version {}, {}\n", name, image.version,
                           checksum_text(image.header_checksum));
    }
    for (const FruArea& area : image.areas) {
        if (area.kind == "common header") {
            out += fmt::format(" common header: cannot decode: {}\n  {}\n", area.problem, hex(area.bytes));
            continue;
        }
        if (area.kind == "internal use" || area.kind == "multirecord") {
            out += fmt::format(" {} area at offset {} (not decoded)\n", area.kind, area.offset);
            continue;
        }
        if (!area.problem.empty()) {
            out += fmt::format(" {} area at offset {}: cannot decode: {}\n", capitalized(area.kind), area.offset,
                               area.problem);
            for (std::size_t row = 0; row < area.bytes.size(); row += 16)
                out += "  " +
                       hex(std::span<const uint8_t>(area.bytes).subspan(row, std::min<std::size_t>(
                                                                                 16, area.bytes.size() - row))) +
                       "\n";
            continue;
        }
        out += fmt::format(" {} area at offset {} ({} bytes), {}\n", capitalized(area.kind), area.offset, area.length,
                           checksum_text(*area.checksum));
        if (area.chassis_type)
            line("Chassis Type", fmt::format("{} ({:#04x})", chassis_type_name(*area.chassis_type),
                                             *area.chassis_type));
        if (area.language)
            line(capitalized(area.kind) + " Language", fmt::format("{} ({})", language_name(*area.language),
                                                                   *area.language));
        if (area.mfg_minutes) line("Board Mfg Date", mfg_date_text(*area.mfg_minutes));
        for (const FruField& f : area.fields)
            line(f.name, f.encoding == "text" ? f.value : fmt::format("{} ({})", f.value, f.encoding));
    }
    return out;
}

Json to_json(const FruImage& image) {
    Json out = Json::object();
    if (image.has_header)
        out["header"] = {{"version", image.version}, {"checksum", checksum_json(image.header_checksum)}};
    else
        out["header"] = nullptr;
    Json areas = Json::array();
    for (const FruArea& area : image.areas) {
        Json a = {{"area", area.kind}, {"offset", area.offset}};
        if (!area.problem.empty()) {
            a["problem"] = area.problem;
            a["hex"] = fmt::format("{:02x}", fmt::join(area.bytes, ""));
            areas.push_back(a);
            continue;
        }
        if (area.kind == "internal use" || area.kind == "multirecord") {
            a["decoded"] = false;
            areas.push_back(a);
            continue;
        }
        a["length"] = area.length;
        a["version"] = area.version;
        a["checksum"] = checksum_json(*area.checksum);
        if (area.chassis_type)
            a["type"] = {{"code", *area.chassis_type}, {"name", chassis_type_name(*area.chassis_type)}};
        if (area.language) a["language"] = {{"code", *area.language}, {"name", language_name(*area.language)}};
        if (area.mfg_minutes) {
            a["mfg_minutes"] = *area.mfg_minutes;
            a["mfg_date"] = *area.mfg_minutes == 0 ? Json(nullptr) : Json(mfg_date_text(*area.mfg_minutes));
        }
        Json fields = Json::object();
        Json extra = Json::array();
        for (const FruField& f : area.fields) {
            Json value = f.encoding == "text" ? Json(f.value) : Json{{"value", f.value}, {"encoding", f.encoding}};
            if (f.key == "extra")
                extra.push_back(value);
            else
                fields[f.key] = value;
        }
        a["fields"] = fields;
        a["extra"] = extra;
        areas.push_back(a);
    }
    out["areas"] = areas;
    out["problems"] = image.problems;
    return out;
}

} // namespace velk::cli
