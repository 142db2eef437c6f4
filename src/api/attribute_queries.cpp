// Queries for one attribute record by name or number, and for every record
// of a kind.
#include "attribute_records.h"
#include "ownership.h"
#include "transport/call_frame.h"

namespace vdfe {
namespace {

// Hands the first record of the answer to *out. An answer with status 0 but
// no record is a failure: there is nothing to copy.
template <typename Public, typename Arg, typename Res>
int single_query(const Procedure<Arg, Res>& procedure, Arg* argument, Public** out) {
    if (out == nullptr) return -1;
    return call(procedure, argument, [out](const Res& answer) {
        if (answer.count == 0 || answer.items == nullptr) return -1;
        auto rec = allocate_zeroed<Public>(1);
        if (!rec || copy_attr(answer.items[0], rec.get()) != 0) {
            if (rec) release_records(1, rec.release());
            *out = nullptr;
            return -1;
        }
        *out = rec.release();
        return 0;
    });
}

// Writes the count, then the array. No records yields a null array: nothing
// to release, so the plural free's refusal of a zero count leaks nothing.
template <typename Public, typename Res>
int list_query(const Procedure<void, Res>& procedure, uint32_t* count, Public** out) {
    if (count == nullptr || out == nullptr) return -1;
    return call(procedure, static_cast<void*>(nullptr), [count, out](const Res& answer) {
        *count = answer.count;
        *out = nullptr;
        if (answer.count == 0) return 0;
        auto recs = allocate_zeroed<Public>(answer.count);
        if (!recs) return -1;
        for (uint32_t i = 0; i < answer.count; ++i) {
            if (copy_attr(answer.items[i], &recs.get()[i]) != 0) {
                release_records(answer.count, recs.release());
                return -1;
            }
        }
        *out = recs.release();
        return 0;
    });
}

template <typename Public, typename Res>
int query_by_name(const Procedure<char*, Res>& procedure, const char* name, Public** out) {
    if (name == nullptr || out == nullptr) return -1;
    char* argument = const_cast<char*>(name); // encoded only, never written
    return single_query(procedure, &argument, out);
}

} // namespace
} // namespace vdfe

using namespace vdfe;

extern "C" {

int velkdirectfe_get_sensor_attr(int, const char* name, velkdirectfe_sensor_attr_t** attr) {
    return query_by_name(procedures::velkd_get_sensor_attr_1, name, attr);
}

int velkdirectfe_get_sensor_attr_by_logical_num(int, uint32_t logical_num, velkdirectfe_sensor_attr_t** attr) {
    u_int argument = logical_num;
    return single_query(procedures::velkd_get_sensor_attr_by_log_num_1, &argument, attr);
}

int velkdirectfe_get_sensor_attrs(int, uint32_t* count, velkdirectfe_sensor_attr_t** attrs) {
    return list_query(procedures::velkd_get_sensor_attrs_1, count, attrs);
}

int velkdirectfe_get_indicator_attr(int, const char* name, velkdirectfe_ind_attr_t** attr) {
    return query_by_name(procedures::velkd_get_ind_attr_1, name, attr);
}

int velkdirectfe_get_indicator_attrs(int, uint32_t* count, velkdirectfe_ind_attr_t** attrs) {
    return list_query(procedures::velkd_get_ind_attrs_1, count, attrs);
}

int velkdirectfe_get_fru_attr(int, const char* name, velkdirectfe_fru_attr_t** attr) {
    return query_by_name(procedures::velkd_get_fru_attr_1, name, attr);
}

int velkdirectfe_get_fru_attrs(int, uint32_t* count, velkdirectfe_fru_attr_t** attrs) {
    return list_query(procedures::velkd_get_fru_attrs_1, count, attrs);
}

int velkdirectfe_get_component_attrs(int, uint32_t* count, velkdirectfe_comp_attr_t** attrs) {
    return list_query(procedures::velkd_get_comp_attrs_1, count, attrs);
}

} // extern "C"
