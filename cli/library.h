// The library's C conventions in C++ terms: a failed call becomes an
// exception carrying its status, and what the library hands out is held by an
// owner that gives it back through the right free function.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "daemon_status.h"
#include "velkdirectfe.h"

namespace velkdirect {

// A library call that returned non-zero. Status -1 is a local failure (no
// daemon, a broken call); any other value is the daemon's own answer.
class CallError : public std::runtime_error {
public:
    CallError(int status, const std::string& subject);
    int status() const { return status_; }
    const std::string& subject() const { return subject_; }

private:
    int status_;
    std::string subject_;
};

// What lies behind a -1 (a local failure, which the library does not tell
// apart): no socket file, permission denied, nothing listening on the
// socket, or a daemon that accepted the call and then failed it (no answer
// within the library's 25 s, or an answer that is not this protocol's).
// Looks at the socket now; `waited` is how long the failing command ran.
std::string explain_local_failure(const std::string& subject, std::chrono::milliseconds waited);

// The daemon's status values in words; empty for a value it does not define.
using velk::protocol::status_words;

// Throws CallError for any status but 0. `subject` names what the call was
// about (`sensor "cpu0_temp"`), or is empty for calls about the whole platform.
void check(int status, std::string_view subject);

// An array of records from a list query (or a single query, count 1), given
// back to the plural free function of its kind. Query failures leave the
// array null, and nothing is freed then.
template <typename Record, int (*Free)(int, uint32_t, Record*)>
class Records {
public:
    Records() = default;
    ~Records() {
        if (items_ != nullptr) Free(0, count_, items_);
    }
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    uint32_t* count_out() { return &count_; }
    Record** items_out() { return &items_; }
    // For single queries, which hand out exactly one record.
    Record** single_out() {
        count_ = 1;
        return &items_;
    }
    std::span<const Record> view() const {
        return items_ == nullptr ? std::span<const Record>{} : std::span<const Record>{items_, count_};
    }

private:
    uint32_t count_ = 0;
    Record* items_ = nullptr;
};

using SensorRecords = Records<velkdirectfe_sensor_attr_t, velkdirectfe_free_sensor_attrs>;
using IndicatorRecords = Records<velkdirectfe_ind_attr_t, velkdirectfe_free_indicator_attrs>;
using FruRecords = Records<velkdirectfe_fru_attr_t, velkdirectfe_free_fru_attrs>;
using ComponentRecords = Records<velkdirectfe_comp_attr_t, velkdirectfe_free_component_attrs>;
using AssociationRecords = Records<velkdirectfe_entity_assoc_t, velkdirectfe_free_entity_associations>;

// A plain string handed out by the library, released with free().
struct FreeDeleter {
    void operator()(char* text) const { std::free(text); }
};
using HeapString = std::unique_ptr<char, FreeDeleter>;

} // namespace velkdirect
