#include "faults.h"

#include <chrono>
#include <thread>

namespace velkd {

int FaultOutcome::apply() const {
    if (delay_ms != 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    return status;
}

FaultInjector::FaultInjector(const std::vector<FaultDesc>& faults) {
    for (const FaultDesc& f : faults) armed_.push_back(Armed{f, SeededRandom(f.seed)});
}

template <typename Match>
FaultOutcome FaultInjector::collect(Match&& match) {
    FaultOutcome outcome;
    if (armed_.empty()) return outcome;
    std::lock_guard lock(mutex_);
    for (Armed& fault : armed_) {
        if (!match(fault.desc)) continue;
        outcome.delay_ms += fault.desc.delay_ms;
        // Every matching call draws, so a fault's failures depend only on the
        // calls it matches, whatever other faults decide.
        if (fault.desc.status != 0 && fault.random.unit() < fault.desc.failure_rate && outcome.status == 0)
            outcome.status = fault.desc.status;
    }
    return outcome;
}

FaultOutcome FaultInjector::for_call(int procedure) {
    return collect([&](const FaultDesc& f) {
        return f.object.empty() && (!f.procedure || *f.procedure == procedure);
    });
}

FaultOutcome FaultInjector::for_object(int procedure, std::string_view name, std::string_view path) {
    return collect([&](const FaultDesc& f) {
        return !f.object.empty() && (f.object == name || f.object == path) &&
               (!f.procedure || *f.procedure == procedure);
    });
}

} // namespace velkd
