#include "library.h"

#include <fmt/format.h>

namespace velkdirect {
namespace {

std::string describe(int status, const std::string& subject) {
    if (status == -1)
        return fmt::format("cannot reach the management daemon at {}", kSocketPath);
    std::string_view words = status_words(status);
    std::string what = words.empty() ? fmt::format("failed with status {}", status)
                                     : fmt::format("{} (status {})", words, status);
    return subject.empty() ? what : fmt::format("{}: {}", subject, what);
}

} // namespace

CallError::CallError(int status, const std::string& subject)
    : std::runtime_error(describe(status, subject)), status_(status) {}

void check(int status, std::string_view subject) {
    if (status != 0) throw CallError(status, std::string(subject));
}

std::string_view status_words(int status) {
    switch (status) {
    case 1: return "unknown object";
    case 2: return "out of range";
    case 3: return "invalid value";
    case 4: return "read only";
    case 5: return "injected fault";
    case 6: return "storage error";
    case 7: return "wrong state";
    default: return {};
    }
}

} // namespace velkdirect
