#include "fru_dates.h"

#include <fmt/format.h>

#include "fru_areas.h"
#include "toml_reader.h"

namespace velkd {

std::variant<uint32_t, std::string> mfg_minutes(const toml::node& node) {
    int64_t minutes = 0;
    if (const auto* dt = node.as_date_time()) {
        const toml::date_time& v = dt->get();
        minutes = fru_minutes(v.date.year, v.date.month, v.date.day, v.time.hour, v.time.minute);
        if (v.offset) minutes -= v.offset->minutes;
    } else if (const auto* d = node.as_date()) {
        minutes = fru_minutes(d->get().year, d->get().month, d->get().day, 0, 0);
    } else {
        return fmt::format("'mfg_date' must be a date or date-time, not {}", toml_reading::type_name(node));
    }
    if (minutes < 1 || minutes > 0xFFFFFF)
        return std::string("'mfg_date' must lie between 1996-01-01 00:01 and 2027-11-24 (UTC)");
    return static_cast<uint32_t>(minutes);
}

} // namespace velkd
