// Reading behaviours and fault draws: pure functions of time and seed.
#include <gtest/gtest.h>

#include <vector>

#include "behaviour.h"
#include "faults.h"

namespace velkd {
namespace {

TEST(Behaviour, SineAndRampFollowTheirPeriod) {
    ReadingSource sine(Sine{50, 10, 4});
    EXPECT_NEAR(sine.value_at(0), 50, 1e-9);
    EXPECT_NEAR(sine.value_at(1), 60, 1e-9);
    EXPECT_NEAR(sine.value_at(3), 40, 1e-9);
    ReadingSource ramp(Ramp{20, 40, 10});
    EXPECT_NEAR(ramp.value_at(2.5), 25, 1e-9);
    EXPECT_NEAR(ramp.value_at(12.5), 25, 1e-9) << "starts again every period";
}

std::vector<double> walk(uint64_t seed) {
    ReadingSource source(RandomWalk{5, 1, 3, 7, seed, 100});
    std::vector<double> values;
    for (int step = 0; step < 200; ++step) values.push_back(source.value_at(step * 0.1));
    return values;
}

TEST(Behaviour, RandomWalkRepeatsWithItsSeedAndStaysInBounds) {
    std::vector<double> one = walk(7);
    EXPECT_EQ(one, walk(7));
    EXPECT_NE(one, walk(8));
    for (double v : one) {
        EXPECT_GE(v, 3);
        EXPECT_LE(v, 7);
    }
    EXPECT_EQ(one.front(), 5);
    // Asking for a time late in the walk lands where step-by-step asking does.
    ReadingSource jump(RandomWalk{5, 1, 3, 7, 7, 100});
    EXPECT_EQ(jump.value_at(199 * 0.1), one.back());
}

TEST(Faults, DrawsRepeatWithTheSeedAndMatchOnlyTheirTarget) {
    FaultDesc fault;
    fault.procedure = 9;
    fault.object = "cpu0_temp";
    fault.status = 5;
    fault.failure_rate = 0.5;
    fault.seed = 3;
    auto pattern = [&] {
        FaultInjector faults({fault});
        std::string out;
        for (int i = 0; i < 64; ++i) out += faults.for_object(9, "cpu0_temp", "/x").status ? 'x' : '.';
        return out;
    };
    std::string first = pattern();
    EXPECT_EQ(first, pattern());
    EXPECT_NE(first.find('x'), std::string::npos);
    EXPECT_NE(first.find('.'), std::string::npos);

    FaultInjector faults({fault});
    EXPECT_EQ(faults.for_object(10, "cpu0_temp", "/x").status, 0) << "another procedure";
    EXPECT_EQ(faults.for_object(9, "other", "/y").status, 0) << "another object";
    EXPECT_EQ(faults.for_call(9).status, 0) << "object faults need the object";
}

} // namespace
} // namespace velkd
