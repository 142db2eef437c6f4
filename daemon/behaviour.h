// How a sensor's reading moves over time, in normalized units.
#pragma once

#include <cstdint>
#include <variant>

#include "seeded_random.h"

namespace velkd {

struct Constant {
    double value = 0;
};
// Rises linearly from `from` to `to` over one period, then starts again.
struct Ramp {
    double from = 0, to = 0, period_s = 1;
};
struct Sine {
    double center = 0, amplitude = 0, period_s = 1;
};
// Every interval moves by up to `step` either way, kept within [min, max].
struct RandomWalk {
    double start = 0, step = 0, min = 0, max = 0;
    uint64_t seed = 0;
    uint32_t interval_ms = 1000;
};

using Behaviour = std::variant<Constant, Ramp, Sine, RandomWalk>;

// The moving value of one sensor. A random walk is advanced lazily, step by
// step up to the asked time, so its path depends only on its seed.
class ReadingSource {
public:
    explicit ReadingSource(const Behaviour& behaviour);

    // The value `seconds` after the platform was loaded. Times must not go
    // backwards for a random walk (an earlier time answers the latest value).
    double value_at(double seconds);

private:
    double walk_to(const RandomWalk& walk, double seconds);

    Behaviour behaviour_;
    uint64_t walk_tick_ = 0;
    double walk_value_ = 0;
    SeededRandom walk_random_;
};

} // namespace velkd
