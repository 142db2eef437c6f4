// Reads a platform description (TOML). Strict: a key it does not know, a
// value of the wrong type or out of range, a duplicate name, path, logical
// number or association key, or a data area above kMaxFruData is refused.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "description.h"

namespace velkd {

// what() is "file:line:column: problem", ready for the log.
class LoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

Description load_description_file(const std::filesystem::path& file);

// `source` names the text in messages; data_file entries are looked up
// relative to `base_dir`.
Description load_description_text(std::string_view text, const std::string& source,
                                  const std::filesystem::path& base_dir);

} // namespace velkd
