// The linear conversion between a sensor's raw byte and its normalized value.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace velkd {

struct Conversion {
    float m = 1.0f; // never 0: the loader refuses it
    float b = 0.0f;
    bool operator==(const Conversion&) const = default;

    float to_normal(uint8_t raw) const { return m * static_cast<float>(raw) + b; }

    // Rounds to the nearest raw count and clamps to the byte; NaN is the
    // caller's to refuse, and reads as 0 rather than as undefined behaviour.
    uint8_t to_raw(double normal) const {
        double raw = std::round((normal - b) / m);
        if (std::isnan(raw)) return 0;
        return static_cast<uint8_t>(std::clamp(raw, 0.0, 255.0));
    }
};

} // namespace velkd
