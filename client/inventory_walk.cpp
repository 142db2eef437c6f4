// The inventory walk as a tree of plain values.
#include <algorithm>
#include <new>

#include "calls.h"
#include "record_conversion.h"

namespace velk::client {
namespace {

// One walk's state. Every placed node reaches its parent through the
// library's user pointer (the root's data is the root node). A node the
// library could not place (a path without '/') gets null parent data, and a
// C callback has no other way to its caller's state, so the walk itself is
// reached through this pointer, set for the length of one walk on this
// thread: such nodes are hung under the root, and a node that could not be
// made marks the walk failed.
struct Walk {
    TreeNode root;
    bool failed = false;
};
thread_local Walk* t_walk = nullptr;

void* add_tree_node(const char* path, uint32_t kind, const uint8_t* desc, const velkdirectfe_nvlist_t* props,
                    void* parent_data) {
    // No exception may cross the library's C frames.
    try {
        auto* parent = parent_data != nullptr ? static_cast<TreeNode*>(parent_data) : &t_walk->root;
        auto node = std::make_unique<TreeNode>();
        node->path = text(path);
        node->kind = kind;
        std::copy(desc, desc + node->desc.size(), node->desc.begin());
        node->properties = properties(props);
        parent->children.push_back(std::move(node));
        return parent->children.back().get();
    } catch (...) {
        t_walk->failed = true;
        return nullptr;
    }
}

} // namespace

TreeNode fetch_tree() {
    // One call first: without a daemon the walk's four queries would each
    // wait out the library's retries before saying so.
    fetch_platform_names();
    Walk walk;
    t_walk = &walk;
    int status = velkdirectfe_inventory_direct(kHandle, add_tree_node, &walk.root);
    t_walk = nullptr;
    if (walk.failed) throw std::bad_alloc();
    // The daemon answered just now, so -1 means it lists no object at all.
    if (status != -1) check(status, "inventory");
    return std::move(walk.root);
}

} // namespace velk::client
