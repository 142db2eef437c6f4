// Entity associations: one entity's, or all of them, each with a member block
// of its own.
#include "ownership.h"
#include "transport/call_frame.h"
#include "transport/call_limits.h"

using namespace vdfe;

namespace {

void release_associations(uint32_t count, velkdirectfe_entity_assoc_t* assocs) noexcept {
    for (uint32_t i = 0; i < count; ++i) std::free(assocs[i].members);
    std::free(assocs);
}

// Member slots are the one thing a reply makes the library allocate without
// carrying it: 20 bytes of association may claim 2^32 - 1 members, 32 GiB of
// slots. So the slots of one reply come, in bytes, to at most what a reply may
// carry, and a call stays within a small multiple of what the daemon sent.
bool member_slots_within_limit(const velkfe_assoc_t* wire, uint32_t count) {
    uint64_t slots = 0;
    for (uint32_t i = 0; i < count; ++i) slots += wire[i].member_count;
    return slots <= kReplyByteLimit / sizeof(velkdirectfe_entity_member_t);
}

// Builds count public records from the wire records. Each member block has
// member_count slots: the first filled from the wire nodes, the rest zero.
// Null when the slots are beyond the limit or memory runs out, with nothing
// left allocated.
velkdirectfe_entity_assoc_t* associations_from_wire(const velkfe_assoc_t* wire, uint32_t count) noexcept {
    if (!member_slots_within_limit(wire, count)) return nullptr;
    auto assocs = allocate_zeroed<velkdirectfe_entity_assoc_t>(count);
    if (!assocs) return nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        velkdirectfe_entity_assoc_t& rec = assocs.get()[i];
        rec.key0 = wire[i].key0;
        rec.key1 = wire[i].key1;
        rec.assoc_word = wire[i].assoc_word;
        rec.member_count = wire[i].member_count;
        rec.members = static_cast<velkdirectfe_entity_member_t*>(
            std::calloc(rec.member_count, sizeof(velkdirectfe_entity_member_t)));
        if (rec.members == nullptr) {
            release_associations(i, assocs.release());
            return nullptr;
        }
        uint32_t filled = std::min(wire[i].member_count, wire[i].node_count);
        for (uint32_t m = 0; m < filled; ++m)
            rec.members[m] = {wire[i].nodes[m].key0, wire[i].nodes[m].key1};
    }
    return assocs.release();
}

} // namespace

extern "C" {

int velkdirectfe_get_entity_association(int, uint8_t key0, uint8_t key1, velkdirectfe_entity_assoc_t** assoc) {
    if (assoc == nullptr) return -1;
    velkfe_mem_node argument{key0, key1};
    return call(procedures::velkd_get_entity_assoc_1, &argument, [assoc](const entity_assoc_res& answer) {
        if (answer.count == 0 || answer.items == nullptr) return -1;
        *assoc = associations_from_wire(answer.items, 1);
        return *assoc != nullptr ? 0 : -1;
    });
}

int velkdirectfe_get_entity_associations(int, uint32_t* count, velkdirectfe_entity_assoc_t** assocs) {
    if (count == nullptr || assocs == nullptr) return -1;
    return call(procedures::velkd_get_entity_assocs_1, static_cast<void*>(nullptr),
                [count, assocs](const entity_assoc_res& answer) {
                    *count = answer.count;
                    *assocs = nullptr;
                    if (answer.count == 0) return 0; // nothing to release
                    *assocs = associations_from_wire(answer.items, answer.count);
                    return *assocs != nullptr ? 0 : -1;
                });
}

int velkdirectfe_free_entity_associations(int, uint32_t count, velkdirectfe_entity_assoc_t* assocs) {
    if (assocs == nullptr || count == 0) return -1;
    release_associations(count, assocs);
    return 0;
}

} // extern "C"
