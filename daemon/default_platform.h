// The platform served when no description file is given. Its text is
// default_platform.toml, compiled in and loaded by the ordinary loader.
#pragma once

#include <string_view>

namespace velkd {

inline constexpr std::string_view kDefaultPlatformSource = "(built-in)";
extern const std::string_view kDefaultPlatformText;

} // namespace velkd
