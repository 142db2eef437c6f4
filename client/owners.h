// What the library hands out, held by owners that give it back through the
// right free function.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "velkdirectfe.h"

namespace velk::client {

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

} // namespace velk::client
