#include "property_lists.h"

#include "ownership.h"

namespace vdfe {

velkdirectfe_nvlist_t* nvlist_from_prop_nodes(const prop_node* pairs, uint32_t count) noexcept {
    velkdirectfe_nvlist_t* head = nullptr;
    velkdirectfe_nvlist_t** tail = &head;
    for (uint32_t i = 0; i < count; ++i) {
        auto node = allocate_zeroed<velkdirectfe_nvlist_t>(1);
        Owned<char> name = node ? copy_string(pairs[i].name) : nullptr;
        Owned<char> value = name ? copy_string(pairs[i].value) : nullptr;
        if (!value) {
            velkdirectfe_nvlist_free(head);
            return nullptr;
        }
        node->name = name.release();
        node->value = value.release();
        *tail = node.release();
        tail = &(*tail)->next;
    }
    return head;
}

} // namespace vdfe

extern "C" void velkdirectfe_nvlist_free(velkdirectfe_nvlist_t* list) {
    while (list != nullptr) {
        velkdirectfe_nvlist_t* next = list->next;
        std::free(list->name);
        std::free(list->value);
        std::free(list);
        list = next;
    }
}
