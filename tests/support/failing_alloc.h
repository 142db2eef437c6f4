// Allocation failure injection for tests linked against the library's static
// archive with -Wl,--wrap=malloc,--wrap=calloc,--wrap=realloc,--wrap=strdup:
// every allocation the library makes on the armed thread is counted, and the
// n-th one (counting from 0) fails. operator new is wrapped too (-Wl,--wrap=_Znwm)
// and fails by throwing std::bad_alloc.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace vdfe::test {

struct AllocationProbe {
    static void fail_at(long index);   // arm: the index-th allocation fails
    static void count_only();          // arm without failing, to measure
    static void disarm();
    static bool failure_injected();    // since the last arm
    static long allocations();         // since the last arm
    static std::size_t largest_request();

    enum class Kind { malloc, calloc, realloc, strdup, new_ };
    struct Request {
        Kind kind;
        std::size_t bytes;
    };
    // The requests since the last arm, in order (the first few thousand).
    static std::vector<Request> requests();

    // Allocations on this thread go uncounted while a Pause lives (for test
    // code that runs inside a library call, such as a callback).
    struct Pause {
        Pause();
        ~Pause();
        bool was_armed;
    };
};

// Runs op with the 0th, 1st, 2nd, ... allocation failing until a run injects
// no failure. on_failure sees each failed run's result; on_success the
// final result. Returns the number of allocations of the clean run.
long sweep_allocation_failures(const std::function<int()>& op, const std::function<void(int)>& on_failure,
                               const std::function<void(int)>& on_success);

} // namespace vdfe::test
