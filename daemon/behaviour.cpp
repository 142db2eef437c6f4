#include "behaviour.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velkd {
namespace {

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
// Clang before 17 deduces no aggregate's template arguments by itself.
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

} // namespace

ReadingSource::ReadingSource(const Behaviour& behaviour)
    : behaviour_(behaviour), walk_random_(0) {
    if (const auto* walk = std::get_if<RandomWalk>(&behaviour_)) {
        walk_value_ = std::clamp(walk->start, walk->min, walk->max);
        walk_random_ = SeededRandom(walk->seed);
    }
}

double ReadingSource::value_at(double seconds) {
    return std::visit(
        Overloaded{
            [](const Constant& c) { return c.value; },
            [&](const Ramp& r) {
                double phase = std::fmod(seconds, r.period_s) / r.period_s;
                return r.from + (r.to - r.from) * phase;
            },
            [&](const Sine& s) {
                return s.center + s.amplitude * std::sin(2 * std::numbers::pi * seconds / s.period_s);
            },
            [&](const RandomWalk& w) { return walk_to(w, seconds); },
        },
        behaviour_);
}

double ReadingSource::walk_to(const RandomWalk& walk, double seconds) {
    auto target = static_cast<uint64_t>(std::max(0.0, seconds) * 1000.0 / walk.interval_ms);
    // After a long idle spell only the last steps matter: a clamped walk
    // forgets where it was, and the lock holder must not spin for seconds.
    constexpr uint64_t kMostSteps = 100000;
    if (target > walk_tick_ + kMostSteps) walk_tick_ = target - kMostSteps;
    for (; walk_tick_ < target; ++walk_tick_) {
        double move = (walk_random_.unit() * 2 - 1) * walk.step;
        walk_value_ = std::clamp(walk_value_ + move, walk.min, walk.max);
    }
    return walk_value_;
}

} // namespace velkd
