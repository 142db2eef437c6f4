// A FRU's manufacturing date as a description gives it: a TOML date or
// date-time (UTC unless it carries an offset), kept as the board area keeps
// it, in minutes since 1996-01-01 00:00 UTC (1 to 0xFFFFFF).
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include <toml++/toml.h>

namespace velkd {

// The minutes, or what is wrong with the value.
std::variant<uint32_t, std::string> mfg_minutes(const toml::node& node);

} // namespace velkd
