// Reading behaviours: pure functions of time and seed. (Fault draws that
// repeat with their seed are proven end to end by the Faults test in procedures_test.)
#include <gtest/gtest.h>

#include <vector>

#include "behaviour.h"

namespace velkd {
namespace {

std::vector<double> walk(uint64_t seed) {
    ReadingSource source(RandomWalk{5, 1, 3, 7, seed, 100});
    std::vector<double> values;
    for (int step = 0; step < 200; ++step) values.push_back(source.value_at(step * 0.1));
    return values;
}

TEST(Behaviour, ShapesFollowTheirPeriodAndAWalkItsSeedWithinBounds) {
    ReadingSource sine(Sine{50, 10, 4}), ramp(Ramp{20, 40, 10});
    const double expected[][3] = {{0, 50, 20}, {1, 60, 22}, {3, 40, 26}, {13, 60, 26}};
    for (const auto& e : expected) { // time, sine, ramp (which starts again every period)
        EXPECT_NEAR(sine.value_at(e[0]), e[1], 1e-9) << e[0];
        EXPECT_NEAR(ramp.value_at(e[0]), e[2], 1e-9) << e[0];
    }
    std::vector<double> one = walk(7);
    EXPECT_EQ(one, walk(7));
    EXPECT_NE(one, walk(8));
    EXPECT_EQ(one.front(), 5);
    for (double v : one) EXPECT_TRUE(v >= 3 && v <= 7) << v;
    // Asking for a time late in the walk lands where step-by-step asking does.
    ReadingSource jump(RandomWalk{5, 1, 3, 7, 7, 100});
    EXPECT_EQ(jump.value_at(199 * 0.1), one.back());
}

} // namespace
} // namespace velkd
