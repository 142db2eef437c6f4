// Reads a platform description (TOML). Strict: a key it does not know, a
// value of the wrong type or out of range, a duplicate name, path, logical
// number or association key, or a data area above kMaxFruData is refused.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "description.h"

namespace velkd {

// what() is "file:line:column: problem", ready for the log; a file with
// several problems gives one such line for each (at most kMaxLoadProblems),
// and problems() lists them one by one.
class LoadError : public std::runtime_error {
public:
    explicit LoadError(const std::string& problem) : std::runtime_error(problem), problems_{problem} {}
    LoadError(const std::string& all, std::vector<std::string> problems, bool cut_short)
        : std::runtime_error(all), problems_(std::move(problems)), cut_short_(cut_short) {}
    const std::vector<std::string>& problems() const { return problems_; }
    // The loader stopped at kMaxLoadProblems; there may be more.
    bool cut_short() const { return cut_short_; }

private:
    std::vector<std::string> problems_;
    bool cut_short_ = false;
};

// The loader reads on after a problem, object by object, and gives up after
// this many.
inline constexpr std::size_t kMaxLoadProblems = 50;

Description load_description_file(const std::filesystem::path& file);

// `source` names the text in messages; data_file entries are looked up
// relative to `base_dir`.
Description load_description_text(std::string_view text, const std::string& source,
                                  const std::filesystem::path& base_dir);

} // namespace velkd
