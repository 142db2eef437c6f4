#include "daemon_status.h"

namespace velk::protocol {

std::string describe_status(int status) {
    std::string_view words = status_words(status);
    std::string number = "status " + std::to_string(status);
    return words.empty() ? number : std::string(words) + " (" + number + ")";
}

} // namespace velk::protocol
