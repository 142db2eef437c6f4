#include "failing_alloc.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

using Kind = vdfe::test::AllocationProbe::Kind;
using Request = vdfe::test::AllocationProbe::Request;

struct ThreadState {
    bool armed = false;
    long fail_index = -1;
    long count = 0;
    bool injected = false;
    std::size_t largest = 0;
};
thread_local ThreadState t_state;
thread_local std::array<Request, 4096> t_log;

// True when this allocation is the one to fail.
bool intercept(std::size_t bytes, Kind kind) {
    ThreadState& s = t_state;
    if (!s.armed) return false;
    s.largest = std::max(s.largest, bytes);
    if (s.count < long(t_log.size())) t_log[s.count] = {kind, bytes};
    if (s.count++ == s.fail_index) {
        s.injected = true;
        return true;
    }
    return false;
}

} // namespace

// operator new(std::size_t) by its mangled name, which depends on the width of
// size_t (the link wraps the same name, see tests/CMakeLists.txt).
#if __SIZEOF_SIZE_T__ == 8
#define OPERATOR_NEW(prefix) prefix##_Znwm
#else
#define OPERATOR_NEW(prefix) prefix##_Znwj
#endif

extern "C" {
void* __real_malloc(std::size_t);
void* __real_calloc(std::size_t, std::size_t);
void* __real_realloc(void*, std::size_t);
char* __real_strdup(const char*);
void* OPERATOR_NEW(__real_)(std::size_t);

void* __wrap_malloc(std::size_t bytes) { return intercept(bytes, Kind::malloc) ? nullptr : __real_malloc(bytes); }
void* __wrap_calloc(std::size_t n, std::size_t size) {
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(n, size, &bytes)) bytes = SIZE_MAX;
    return intercept(bytes, Kind::calloc) ? nullptr : __real_calloc(n, size);
}
void* __wrap_realloc(void* block, std::size_t bytes) {
    return intercept(bytes, Kind::realloc) ? nullptr : __real_realloc(block, bytes);
}
char* __wrap_strdup(const char* text) {
    return intercept(__builtin_strlen(text) + 1, Kind::strdup) ? nullptr : __real_strdup(text);
}
void* OPERATOR_NEW(__wrap_)(std::size_t bytes) {
    if (intercept(bytes, Kind::new_)) throw std::bad_alloc();
    return OPERATOR_NEW(__real_)(bytes);
}
}

namespace vdfe::test {

void AllocationProbe::fail_at(long index) { t_state = ThreadState{true, index, 0, false, 0}; }
void AllocationProbe::count_only() { fail_at(-1); }
void AllocationProbe::disarm() { t_state.armed = false; }
bool AllocationProbe::failure_injected() { return t_state.injected; }
long AllocationProbe::allocations() { return t_state.count; }
std::size_t AllocationProbe::largest_request() { return t_state.largest; }

std::vector<AllocationProbe::Request> AllocationProbe::requests() {
    Pause pause;
    long n = std::min<long>(t_state.count, long(t_log.size()));
    return std::vector<Request>(t_log.begin(), t_log.begin() + n);
}

AllocationProbe::Pause::Pause() : was_armed(t_state.armed) { t_state.armed = false; }
AllocationProbe::Pause::~Pause() { t_state.armed = was_armed; }

long sweep_allocation_failures(const std::function<int()>& op, const std::function<void(int)>& on_failure,
                               const std::function<void(int)>& on_success) {
    for (long index = 0;; ++index) {
        AllocationProbe::fail_at(index);
        int result = op();
        AllocationProbe::disarm();
        if (!AllocationProbe::failure_injected()) {
            on_success(result);
            return index;
        }
        on_failure(result);
    }
}

} // namespace vdfe::test
