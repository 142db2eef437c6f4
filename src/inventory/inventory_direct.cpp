// The public inventory walk: the four list queries, the tree, and the lists
// handed back to their free functions on every path.
#include "inventory_tree.h"

using namespace vdfe::inventory;

namespace {

// Holds the four lists for the length of a walk and releases them after it,
// also when the thread is cancelled in a query or a callback: the lists are
// fetched once the holder is whole, so its destructor runs on that path too.
// A list whose query failed counts as empty.
class InventoryLists {
public:
    explicit InventoryLists(int handle) : handle_(handle) {}
    void fetch_all() {
        fetch(velkdirectfe_get_fru_attrs, frus_, fru_count_);
        fetch(velkdirectfe_get_sensor_attrs, sensors_, sensor_count_);
        fetch(velkdirectfe_get_indicator_attrs, indicators_, indicator_count_);
        fetch(velkdirectfe_get_component_attrs, components_, component_count_);
    }
    ~InventoryLists() {
        velkdirectfe_free_fru_attrs(handle_, fru_count_, frus_);
        velkdirectfe_free_sensor_attrs(handle_, sensor_count_, sensors_);
        velkdirectfe_free_indicator_attrs(handle_, indicator_count_, indicators_);
        velkdirectfe_free_component_attrs(handle_, component_count_, components_);
    }
    InventoryLists(const InventoryLists&) = delete;
    InventoryLists& operator=(const InventoryLists&) = delete;

    Sources sources() const {
        return {frus_, fru_count_, sensors_, sensor_count_, indicators_, indicator_count_, components_, component_count_};
    }

private:
    template <typename Record>
    void fetch(int (*query)(int, uint32_t*, Record**), Record*& records, uint32_t& count) {
        if (query(handle_, &count, &records) != 0) {
            count = 0;
            records = nullptr;
        }
    }

    int handle_;
    velkdirectfe_fru_attr_t* frus_ = nullptr;
    uint32_t fru_count_ = 0;
    velkdirectfe_sensor_attr_t* sensors_ = nullptr;
    uint32_t sensor_count_ = 0;
    velkdirectfe_ind_attr_t* indicators_ = nullptr;
    uint32_t indicator_count_ = 0;
    velkdirectfe_comp_attr_t* components_ = nullptr;
    uint32_t component_count_ = 0;
};

} // namespace

extern "C" int velkdirectfe_inventory_direct(int handle, velkdirectfe_inv_cb_t callback, void* root_data) {
    if (callback == nullptr) return -1;
    InventoryLists lists(handle);
    lists.fetch_all();
    return walk(lists.sources(), callback, root_data);
}
