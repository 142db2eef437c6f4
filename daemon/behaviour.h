// A sensor's reading moving over time as its Behaviour says.
#pragma once

#include <cstdint>

#include "description.h"
#include "seeded_random.h"

namespace velkd {

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
