#include "text_escape.h"

#include <fmt/format.h>

namespace velk::client {

std::string escaped_byte(uint8_t b) { return fmt::format("\\x{:02x}", b); }

std::string terminal_safe(std::string_view text, bool keep_newlines) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto b = static_cast<uint8_t>(text[i]);
        if (keep_newlines && (b == '\n' || b == '\t')) {
            out += static_cast<char>(b);
        } else if (is_control_byte(b)) {
            out += escaped_byte(b);
        } else if (b == 0xC2 && i + 1 < text.size() && static_cast<uint8_t>(text[i + 1]) >= 0x80 &&
                   static_cast<uint8_t>(text[i + 1]) < 0xA0) {
            // U+0080 to U+009F, the C1 controls (CSI among them).
            out += escaped_byte(b) + escaped_byte(static_cast<uint8_t>(text[++i]));
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

} // namespace velk::client
