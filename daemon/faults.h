// Faults on purpose: delays and failing statuses that a description attaches
// to procedures or objects, so that applications can test their error paths.
#pragma once

#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

#include "description.h"
#include "seeded_random.h"

namespace velkd {

struct FaultOutcome {
    uint32_t delay_ms = 0;
    int status = 0; // 0: answer normally

    // Sleeps for the delay, then returns the status to answer.
    int apply() const;
};

class FaultInjector {
public:
    explicit FaultInjector(const std::vector<FaultDesc>& faults);

    // Faults that name no object, for a call of this procedure.
    FaultOutcome for_call(int procedure);
    // Faults that name this object, for a call of this procedure.
    FaultOutcome for_object(int procedure, std::string_view name, std::string_view path);

private:
    struct Armed {
        FaultDesc desc;
        SeededRandom random;
    };
    template <typename Match>
    FaultOutcome collect(Match&& match);

    std::mutex mutex_; // the generators advance with every matching call
    std::vector<Armed> armed_;
};

} // namespace velkd
